// Default behaviours of the triggered acquisition programs: the tandem pulse
// decoder ("echread.dap"), the threshold gate ("recthrsh.dap"), the spike
// sorter ("spiker.dap") and the event summaries ("smart.dap"), with the
// `cleanhouse` task the last two share.
//
// Everything the tasks send is computed from the tick clock and the board's
// seeded random numbers, so a scenario gives the same bytes every time.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dapsim/board.h"

namespace {

using dapsim::Board;
using dapsim::Task;
using dapsim::TaskDefinition;
using dapsim::Tick;

using dapsim::append_word;
using dapsim::uniform;

void put_i16(std::vector<std::uint8_t> &out, int value) {
  append_word(out, static_cast<std::uint16_t>(dapsim::saturate16(value)));
}
// Low 16-bit word first, as the board's 16-bit output path sends 32-bit values.
void put_u32(std::vector<std::uint8_t> &out, std::uint32_t value) {
  append_word(out, static_cast<std::uint16_t>(value & 0xFFFFu));
  append_word(out, static_cast<std::uint16_t>(value >> 16));
}
std::uint16_t get_u16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// How many events fall in one tick at `rate` events per tick.
int events_in_tick(Board &board, double rate) {
  int n = static_cast<int>(rate);
  if (uniform(board) < rate - n)
    ++n;
  return n;
}

// The board's 32-bit sample clock (100 samples a tick). It starts high so that
// every time stamp needs all 32 bits unsigned.
constexpr std::uint32_t kSampleClockStart = 0xF0000000u;
constexpr std::uint32_t kSamplesPerTick = 100;
std::uint32_t sample_time(Tick now, std::uint32_t offset) {
  return kSampleClockStart + static_cast<std::uint32_t>(now) * kSamplesPerTick + offset;
}

// ---------------------------------------------------------------------------
// Tandem pulse decoder

// What echreada has decoded, for echreadc to answer with.
struct TandemState {
  int train_channel = -1; // channel of the train being counted, -1 between trains
  int train_pulses = 0;
  bool train_done = false; // an idle record ended a train not yet answered
  int done_channel = 0;
  int done_pulses = 0;
  std::vector<std::uint8_t> partial; // bytes of a record not yet complete
};
TandemState g_tandem;

// Channel index from the code in bits 12-14, whose bit order is reversed.
int channel_from_code(std::uint16_t word) {
  return ((word >> 14) & 1) | (((word >> 13) & 1) << 1) | (((word >> 12) & 1) << 2);
}

class EchreadDecoder : public Task {
public:
  void on_start(Board &, Tick) override { g_tandem = TandemState{}; }
  void on_stop(Board &, Tick) override { g_tandem = TandemState{}; }

  void on_binary_input(Board &board, Tick) override {
    std::vector<std::uint8_t> bytes = board.take_binary_input(board.binary_input_size());
    std::vector<std::uint8_t> &pending = g_tandem.partial;
    pending.insert(pending.end(), bytes.begin(), bytes.end());
    std::size_t used = 0;
    for (; pending.size() - used >= 6; used += 6)
      decode(board, get_u16(&pending[used]), get_u16(&pending[used + 2]),
             get_u16(&pending[used + 4]));
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
  }

private:
  static void decode(Board &board, std::uint16_t first, std::uint16_t middle, std::uint16_t last) {
    const int channel = channel_from_code(first);
    if ((first & 0x8FFFu) != 0 || last != first || (middle & 0x7FFFu) != first) {
      board.note("echread bad record " + std::to_string(first) + " " + std::to_string(middle) +
                 " " + std::to_string(last));
      return;
    }
    if (channel != g_tandem.train_channel) {
      g_tandem.train_channel = channel;
      g_tandem.train_pulses = 0;
    }
    if (middle & 0x8000u) {
      ++g_tandem.train_pulses;
      return;
    }
    g_tandem.train_done = true;
    g_tandem.done_channel = channel;
    g_tandem.done_pulses = g_tandem.train_pulses;
    g_tandem.train_channel = -1;
    board.note("echread channel " + std::to_string(channel) + " pulses " +
               std::to_string(g_tandem.done_pulses));
  }
};

// Answers its start, two ticks later, with the last train's pulse count as
// three one-bit words, high bit first. Silent while the decoder is not running
// or no train has ended since the last answer.
class EchreadReply : public Task {
public:
  void on_start(Board &board, Tick now) override {
    due_ = -1;
    if (board.running("echreada") && g_tandem.train_done) {
      due_ = now + kLatency;
      pulses_ = g_tandem.done_pulses;
      g_tandem.train_done = false;
    }
  }
  void on_stop(Board &, Tick) override { due_ = -1; }
  void on_tick(Board &board, Tick now) override {
    if (due_ < 0 || now < due_)
      return;
    due_ = -1;
    std::vector<std::uint8_t> reply;
    append_word(reply, static_cast<std::uint16_t>((pulses_ >> 2) & 1));
    append_word(reply, static_cast<std::uint16_t>((pulses_ >> 1) & 1));
    append_word(reply, static_cast<std::uint16_t>(pulses_ & 1));
    board.send_binary(reply);
  }

private:
  static constexpr Tick kLatency = 2;
  Tick due_ = -1;
  int pulses_ = 0;
};

// ---------------------------------------------------------------------------
// Threshold gate: one (peak, width, number) record per excursion above THRESH.
//
// The input is one signal whatever the threshold: bumps of random height,
// breadth and phase against the 10 kHz samples, drawn alike at every
// threshold. The gate cuts the excursions out of that signal, so a higher
// threshold keeps fewer bumps and fewer samples of each, as on a rig.

struct Excursion {
  int peak = 0;  // highest sample, in counts
  int width = 0; // samples at or above the threshold; 0 when none reaches it
};

// One Gaussian bump of height `height` and breadth `sigma` (in samples),
// centred `phase` of a sample after a sample instant, seen by the gate.
Excursion cut(double height, double sigma, double phase, std::int64_t threshold) {
  Excursion e;
  if (height < static_cast<double>(threshold))
    return e;
  const double reach = sigma * std::sqrt(2.0 * std::log(height / static_cast<double>(threshold)));
  const int first = static_cast<int>(std::floor(phase - reach)) - 1;
  const int last = static_cast<int>(std::ceil(phase + reach)) + 1;
  for (int k = first; k <= last; ++k) {
    const double d = k - phase;
    // The converter saturates at the top of its word.
    const int sample = dapsim::saturate16(height * std::exp(-d * d / (2 * sigma * sigma)));
    if (sample >= threshold) {
      ++e.width;
      e.peak = std::max(e.peak, sample);
    }
  }
  return e;
}

class GateRecords : public Task {
public:
  void on_start(Board &, Tick) override { excursion_ = 0; }
  void on_tick(Board &board, Tick) override {
    std::int64_t threshold = board.variable("THRESH");
    if (threshold <= 0)
      threshold = kDefaultThreshold;
    // The board's variables are 16-bit; a larger LET saturates.
    threshold = std::min<std::int64_t>(threshold, 32767);
    std::vector<std::uint8_t> out;
    for (int n = events_in_tick(board, kBumpRate); n > 0; --n) {
      // Heights fall off exponentially above the noise floor. Every bump
      // draws the same numbers, so the signal does not depend on the
      // threshold.
      const double height = kFloor - std::log(1.0 - uniform(board)) * kHeightScale;
      const double sigma = 1.5 + 3.0 * uniform(board);
      const double phase = uniform(board);
      const Excursion e = cut(height, sigma, phase, threshold);
      if (e.width == 0)
        continue;
      put_i16(out, e.peak);
      put_i16(out, e.width);
      put_i16(out, static_cast<int>(excursion_++ & 0x7FFF));
    }
    if (!out.empty())
      board.send_binary(out);
  }

private:
  static constexpr double kBumpRate = 3.5; // bumps per tick
  static constexpr double kFloor = 100.0;
  static constexpr double kHeightScale = 300.0;
  static constexpr std::int64_t kDefaultThreshold = 300;
  std::uint32_t excursion_ = 0;
};

// ---------------------------------------------------------------------------
// Spike sorter and event summaries

// cleanhouse quiets every spike or summary task started before it; they speak
// again only when started anew. Kept per process, like the board.
unsigned g_house_generation = 0;

// cleanhouse empties the pipes: what was left in them reaches the host as a
// few stray bytes, which the commands drain before they start collecting.
class CleanHouse : public Task {
public:
  void on_start(Board &board, Tick) override {
    ++g_house_generation;
    std::vector<std::uint8_t> residue(kResidueBytes, 0x5A);
    board.send_binary(residue);
  }

private:
  static constexpr std::size_t kResidueBytes = 18; // not a whole record of any kind
};

// Base of the spike and summary tasks: active from its start until the next
// cleanhouse.
class HouseTask : public Task {
public:
  void on_start(Board &, Tick) override { generation_ = g_house_generation; }
  void on_tick(Board &board, Tick now) override {
    if (generation_ == g_house_generation)
      emit(board, now);
  }

protected:
  virtual void emit(Board &board, Tick now) = 0;

private:
  unsigned generation_ = 0;
};

struct SpikeUnit {
  double rate;      // spikes per tick
  double amplitude; // depth of the trough
};
// Channels 1, 3, 5 and 7 fire often enough to pass a 100-record cap in 1100 ticks.
constexpr SpikeUnit kSpikeUnits[8] = {
    {0.05, 900}, {0.15, 1400}, {0.02, 600}, {0.30, 1100},
    {0.08, 800}, {0.12, 1600}, {0.01, 500}, {0.20, 1000},
};
constexpr int kSpikeSamples = 20;

class SpikeTask : public HouseTask {
public:
  explicit SpikeTask(int first_channel) : first_(first_channel) {}

protected:
  void emit(Board &board, Tick now) override {
    for (int c = first_; c < first_ + 4; ++c) {
      const SpikeUnit &unit = kSpikeUnits[c];
      for (int n = events_in_tick(board, unit.rate); n > 0; --n)
        send_spike(board, c, unit, now);
    }
  }

private:
  static void send_spike(Board &board, int channel, const SpikeUnit &unit, Tick now) {
    std::vector<std::uint8_t> record;
    put_i16(record, channel);
    put_u32(record, sample_time(now, board.random()() % kSamplesPerTick));
    const double scale = unit.amplitude * (0.85 + 0.3 * uniform(board));
    for (int s = 0; s < kSpikeSamples; ++s) {
      // A sharp trough at sample 5 and a slower overshoot after it.
      const double t = s - 5.0;
      const double trough = -std::exp(-t * t / (2 * 1.5 * 1.5));
      const double overshoot = 0.35 * std::exp(-(t - 5.0) * (t - 5.0) / (2 * 3.0 * 3.0));
      const double noise = (uniform(board) - 0.5) * 60.0;
      put_i16(record, static_cast<int>(std::lround(scale * (trough + overshoot) + noise)));
    }
    board.send_binary(record);
  }

  int first_;
};

// Channel 8 fires often enough to pass a 1000-record cap in 610 ticks.
constexpr double kSmartRates[9] = {0.25, 0.15, 0.3, 0.1, 0.15, 0.1, 0.2, 0.05, 1.8};

class SmartTask : public HouseTask {
public:
  SmartTask(int first_channel, int last_channel) : first_(first_channel), last_(last_channel) {}

protected:
  void emit(Board &board, Tick now) override {
    for (int c = first_; c <= last_; ++c)
      for (int n = events_in_tick(board, kSmartRates[c]); n > 0; --n) {
        std::vector<std::uint8_t> record;
        const double peak = 200 + 1800 * uniform(board);
        put_i16(record, c);
        put_u32(record, sample_time(now, board.random()() % kSamplesPerTick));
        put_u32(record, static_cast<std::uint32_t>(peak * (20 + 30 * uniform(board))));
        put_i16(record, -static_cast<int>(peak));
        board.send_binary(record);
      }
  }

private:
  int first_;
  int last_;
};

template <class T, class... Args> dapsim::TaskFactory make(Args... args) {
  return
      [=](const TaskDefinition &) -> std::unique_ptr<Task> { return std::make_unique<T>(args...); };
}

} // namespace

DAPSIM_TASK("echreada", make<EchreadDecoder>());
DAPSIM_TASK("echreadc", make<EchreadReply>());
DAPSIM_TASK("recthrshb", make<GateRecords>());
DAPSIM_TASK("cleanhouse", make<CleanHouse>());
DAPSIM_TASK("spikera", make<SpikeTask>(0));
DAPSIM_TASK("spikerb", make<SpikeTask>(4));
DAPSIM_TASK("smarta", make<SmartTask>(0, 4));
DAPSIM_TASK("smartb", make<SmartTask>(5, 8));
