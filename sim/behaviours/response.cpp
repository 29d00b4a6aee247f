// Default behaviour of the stimulus-response tasks.
//
// stimrespa stands for the whole preparation: it takes each 1004-byte pulse
// table the host writes to the binary channel, plays it on output a0, and
// answers with event records (channel, time, value1, value2) on channels 0 to
// 8. Channel 8 marks each stimulus onset; channels 0 to 7 are units with
// their own latency, jitter and burst size, some firing on their own as well.
// A unit's event goes out only if its amplitude (value1) reaches the board
// variable THR<channel>, which is 0 after a reset, so every unit responds
// unless StimResp2 raises its threshold. stimrespb, ledstim2a and ledstim2b
// share the work on a real board and need no behaviour of their own here.
//
// Times are board sample counts (10 kHz, 100 per tick) from the task's start.
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dapsim/board.h"

namespace {

using dapsim::Board;
using dapsim::Tick;

constexpr std::int64_t kSamplesPerTick = 100;
constexpr std::size_t kTableBytes = 1004;
constexpr int kUnits = 8;
constexpr std::int16_t kMarkerChannel = 8;
// The pulse reaches the preparation one tick after its table.
constexpr std::int64_t kOnsetDelay = kSamplesPerTick;

struct Unit {
  std::int64_t latency;  // samples from onset to the first evoked event
  std::int64_t spacing;  // samples between the events of a burst
  double jitter;         // standard deviation of each event's time, samples
  int burst;             // evoked events per stimulus
  double probability;    // chance that a stimulus evokes the burst at all
  double amplitude;      // mean value1
  double spread;         // standard deviation of value1
  double spontaneous_hz; // rate of events without a stimulus
};

// Unit 0 fires steadily and passes the cap of 100 events within one window;
// unit 1 bursts 40 times per stimulus and passes it over three stimuli.
// Unit 6 is small and the first to vanish under a raised threshold.
constexpr Unit kUnitTable[kUnits] = {
    {80, 40, 10.0, 3, 1.0, 900.0, 150.0, 12.0}, {150, 100, 20.0, 40, 1.0, 1500.0, 200.0, 0.0},
    {50, 30, 5.0, 2, 1.0, 2500.0, 300.0, 0.0},  {120, 60, 15.0, 4, 1.0, 600.0, 80.0, 0.0},
    {250, 0, 30.0, 1, 0.8, 3500.0, 400.0, 0.0}, {400, 200, 40.0, 3, 1.0, 1200.0, 150.0, 0.5},
    {700, 150, 50.0, 6, 1.0, 300.0, 40.0, 0.0}, {1200, 300, 60.0, 2, 0.6, 5000.0, 500.0, 0.0},
};

struct Event {
  std::int16_t channel;
  std::int16_t value1;
  std::int16_t value2;
};

class StimulusResponse : public dapsim::Task {
public:
  void on_start(Board &board, Tick now) override {
    start_ = now;
    for (int u = 0; u < kUnits; ++u)
      next_spontaneous_[u] = next_interval(board, kUnitTable[u].spontaneous_hz);
  }

  void on_binary_input(Board &board, Tick now) override {
    while (board.binary_input_size() >= kTableBytes)
      stimulate(board, now, board.take_binary_input(kTableBytes));
  }

  void on_tick(Board &board, Tick now) override {
    const std::int64_t elapsed = (now - start_ + 1) * kSamplesPerTick;
    for (int u = 0; u < kUnits; ++u) {
      while (next_spontaneous_[u] < elapsed) {
        schedule(next_spontaneous_[u], unit_event(board, u));
        next_spontaneous_[u] += next_interval(board, kUnitTable[u].spontaneous_hz);
      }
    }
    while (!pending_.empty() && pending_.begin()->first < elapsed) {
      send(board, pending_.begin()->first, pending_.begin()->second);
      pending_.erase(pending_.begin());
    }
  }

private:
  static std::int64_t next_interval(Board &board, double hz) {
    if (hz <= 0.0)
      return std::numeric_limits<std::int64_t>::max() / 2;
    std::exponential_distribution<double> interval(hz / 10000.0);
    return 1 + static_cast<std::int64_t>(interval(board.random()));
  }

  Event unit_event(Board &board, int u) {
    std::normal_distribution<double> amplitude(kUnitTable[u].amplitude, kUnitTable[u].spread);
    std::uniform_int_distribution<int> width(4, 11);
    return Event{static_cast<std::int16_t>(u),
                 dapsim::saturate16(std::fabs(amplitude(board.random()))),
                 static_cast<std::int16_t>(width(board.random()))};
  }

  void schedule(std::int64_t time, const Event &event) { pending_.emplace(time, event); }

  void stimulate(Board &board, Tick now, const std::vector<std::uint8_t> &table) {
    std::int16_t peak = 0;
    for (std::size_t i = 0; i + 1 < table.size(); i += 2) {
      const std::int16_t word = dapsim::signed_word(table[i], table[i + 1]);
      board.record_output(0, word);
      if (word > peak)
        peak = word;
    }
    if (peak <= 0)
      return; // a silent table stimulates nothing
    ++stimuli_;
    const std::int64_t onset = (now - start_) * kSamplesPerTick + kOnsetDelay;
    schedule(onset, Event{kMarkerChannel, peak, static_cast<std::int16_t>(stimuli_)});
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    for (int u = 0; u < kUnits; ++u) {
      const Unit &unit = kUnitTable[u];
      if (chance(board.random()) >= unit.probability)
        continue;
      std::normal_distribution<double> jitter(0.0, unit.jitter);
      for (int k = 0; k < unit.burst; ++k) {
        const std::int64_t delay =
            unit.latency + k * unit.spacing + std::llround(jitter(board.random()));
        schedule(onset + (delay > 0 ? delay : 1), unit_event(board, u));
      }
    }
    board.note("stimresp stimulus " + std::to_string(stimuli_));
  }

  void send(Board &board, std::int64_t time, const Event &event) {
    if (event.channel < kUnits &&
        event.value1 < board.variable("THR" + std::to_string(event.channel)))
      return;
    const auto t = static_cast<std::uint32_t>(time);
    std::vector<std::uint8_t> record;
    dapsim::append_word(record, static_cast<std::uint16_t>(event.channel));
    dapsim::append_word(record, static_cast<std::uint16_t>(t & 0xFFFFu));
    dapsim::append_word(record, static_cast<std::uint16_t>(t >> 16));
    dapsim::append_word(record, static_cast<std::uint16_t>(event.value1));
    dapsim::append_word(record, static_cast<std::uint16_t>(event.value2));
    board.send_binary(record);
  }

  Tick start_ = 0;
  int stimuli_ = 0;
  std::int64_t next_spontaneous_[kUnits] = {};
  std::multimap<std::int64_t, Event> pending_;
};

} // namespace

DAPSIM_TASK("stimrespa",
            [](const dapsim::TaskDefinition &) { return std::make_unique<StimulusResponse>(); });
