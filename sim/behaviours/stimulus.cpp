// Default behaviours of the stimulus tasks.
//
// Two-pulse program ("twpls.dap"): twplsa moves pair tables from the binary
// input into the board's pair pipe at a steady rate, and twplsb plays the
// pipe as pulse pairs, the first pulse of a pair on a0 and the second on a1.
// With both running, the host sees the driver's free space fall while it
// writes faster than the board plays and rise again as the pipe drains.
//
// Waveform playback (WaveOut's inline definition, "test4.dap"): elstima
// separates the binary input entry by entry into output pipes 0 and 1, and
// elstimb waits until 602 entries are in (one table) and plays them as a
// burst, pipe 0 on a0 and pipe 1 on a1, as soon as they are. A table that is
// not complete is not played.
//
// The two tasks of a program share their pipes; the pipes belong to the
// board and live as long as either task of the program runs.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dapsim/board.h"

namespace {

using dapsim::Board;
using dapsim::Tick;

// Entries taken from the binary input, which arrives in byte pieces that need
// not end on an entry boundary.
struct EntryAssembler {
  bool has_low = false;
  std::uint8_t low = 0;

  template <class Sink> void feed(const std::vector<std::uint8_t> &bytes, Sink &&sink) {
    for (std::uint8_t b : bytes) {
      if (!has_low) {
        low = b;
        has_low = true;
      } else {
        sink(dapsim::signed_word(low, b));
        has_low = false;
      }
    }
  }
};

struct ProgramPipes {
  EntryAssembler input;
  std::deque<std::int16_t> pipe[2];
  int next_pipe = 0;

  std::size_t held() const { return pipe[0].size() + pipe[1].size(); }
};

// Pipes per program; hooks run with the board locked, so this needs no lock
// of its own. Never destroyed: the host's exit handlers may still move the
// clock, and with it the tasks.
ProgramPipes &pipes(const std::string &program) {
  static auto *by_program = new std::map<std::string, ProgramPipes>();
  return (*by_program)[program];
}

void forget(const std::string &program) { pipes(program) = ProgramPipes{}; }

// A task of a two-task program: the pipes start empty when the first of the
// two starts and are dropped when the last stops.
class ProgramTask : public dapsim::Task {
public:
  ProgramTask(std::string program, std::string partner)
      : program_(std::move(program)), partner_(std::move(partner)) {}
  void on_start(Board &board, Tick) override {
    if (!board.running(partner_))
      forget(program_);
  }
  void on_stop(Board &board, Tick) override {
    if (!board.running(partner_))
      forget(program_);
  }

protected:
  ProgramPipes &shared() { return pipes(program_); }

private:
  std::string program_;
  std::string partner_;
};

// --- Two-pulse program ----------------------------------------------------

constexpr std::size_t kPairBytesPerTick = 16; // 8 entries a tick
constexpr std::size_t kPairPipeEntries = 256; // what the pair pipe holds
constexpr std::size_t kPairPulsesPerTick = 8;

class PairFeeder : public ProgramTask {
public:
  PairFeeder() : ProgramTask("twpls", "twplsb") {}
  void on_tick(Board &board, Tick) override {
    ProgramPipes &p = shared();
    if (p.held() >= kPairPipeEntries)
      return;
    const std::size_t room = 2 * (kPairPipeEntries - p.held());
    const std::vector<std::uint8_t> bytes =
        board.take_binary_input(room < kPairBytesPerTick ? room : kPairBytesPerTick);
    p.input.feed(bytes, [&p](std::int16_t v) { p.pipe[0].push_back(v); });
  }
};

class PairPlayer : public ProgramTask {
public:
  PairPlayer() : ProgramTask("twpls", "twplsa") {}
  void on_tick(Board &board, Tick) override {
    std::deque<std::int16_t> &queue = shared().pipe[0];
    for (std::size_t i = 0; i < kPairPulsesPerTick && !queue.empty(); ++i) {
      board.record_output(second_pulse_ ? 1 : 0, queue.front());
      queue.pop_front();
      second_pulse_ = !second_pulse_;
    }
  }

private:
  bool second_pulse_ = false;
};

// --- Waveform playback ------------------------------------------------------

constexpr std::size_t kWaveEntries = 602;
constexpr std::size_t kWavePipeEntries = 8 * kWaveEntries;

// The output procedure plays a burst as soon as a whole table is in: at 5 us
// a sample a table takes far less than a tick.
void play_whole_tables(Board &board, ProgramPipes &p) {
  const std::size_t per_output = kWaveEntries / 2;
  while (p.pipe[0].size() >= per_output && p.pipe[1].size() >= per_output) {
    for (int output = 0; output < 2; ++output) {
      for (std::size_t i = 0; i < per_output; ++i) {
        board.record_output(output, p.pipe[output].front());
        p.pipe[output].pop_front();
      }
    }
  }
}

class WaveSeparator : public ProgramTask {
public:
  WaveSeparator() : ProgramTask("elstim", "elstimb") {}
  void on_binary_input(Board &board, Tick) override { separate(board); }
  void on_tick(Board &board, Tick) override { separate(board); }

private:
  void separate(Board &board) {
    ProgramPipes &p = shared();
    if (p.held() < kWavePipeEntries) {
      const std::vector<std::uint8_t> bytes =
          board.take_binary_input(2 * (kWavePipeEntries - p.held()));
      p.input.feed(bytes, [&p](std::int16_t v) {
        p.pipe[p.next_pipe].push_back(v);
        p.next_pipe = 1 - p.next_pipe;
      });
    }
    if (board.running("elstimb"))
      play_whole_tables(board, p);
  }
};

class WaveOutput : public ProgramTask {
public:
  WaveOutput() : ProgramTask("elstim", "elstima") {}
  void on_start(Board &board, Tick now) override {
    ProgramTask::on_start(board, now);
    play_whole_tables(board, shared());
  }
  void on_tick(Board &board, Tick) override { play_whole_tables(board, shared()); }
};

template <class T> dapsim::TaskFactory make() {
  return [](const dapsim::TaskDefinition &) { return std::make_unique<T>(); };
}

} // namespace

DAPSIM_TASK("twplsa", make<PairFeeder>());
DAPSIM_TASK("twplsb", make<PairPlayer>());
DAPSIM_TASK("elstima", make<WaveSeparator>());
DAPSIM_TASK("elstimb", make<WaveOutput>());
