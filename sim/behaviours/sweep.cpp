// Default behaviours of the short-record session and the long sampling runs.
//
// shrtreca samples the amplifier; shrtrecb sends, once a second, a leading
// stretch of baseline and then a sweep; shrtrecc sends one sweep for every
// trigger value it finds in trigpipe. offsetb sends one offset record measured
// by offseta. recorda, fed to the host through recordb, records the cell's
// answer to a pulse of the command variable v1 from the moment the pulse ends.
//
// Every sample is computed from the board's seeded random numbers and the
// tick clock, so a scenario gives the same bytes every time it runs.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dapsim/board.h"

namespace {

using dapsim::Board;
using dapsim::Tick;

// Sweep sampling: one sample every 50 us, that is 200 samples a tick.
constexpr int kSweepSamplesPerTick = 200;
constexpr int kLeadingSamples = 1342;
constexpr int kSweepSamples = 8000;
constexpr Tick kSweepPeriodTicks = 100;
// Where the stimulus falls in a sweep: 20 ms after its first sample.
constexpr int kStimulusSample = 400;
// Amplifier offsets of the two inputs, in converter counts.
constexpr double kBaseline[2] = {-150.0, 37.0};
constexpr double kNoise = 12.0;

// Gaussian noise from the raw output of the board's generator, whose sequence
// is fixed by the standard (unlike that of std::normal_distribution).
double gaussian(Board &board) {
  std::mt19937 &g = board.random();
  const double u1 = (static_cast<double>(g()) + 1.0) / 4294967297.0;
  const double u2 = static_cast<double>(g()) / 4294967296.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// A sample, low byte first.
void append_sample(std::vector<std::uint8_t> &out, double v) {
  dapsim::append_word(out, static_cast<std::uint16_t>(dapsim::saturate16(v)));
}

// An evoked field potential as an extracellular electrode sees it: the
// stimulus artefact, a small fibre volley, then a population spike riding on
// the slower synaptic wave. `t` is in samples after the stimulus.
double evoked(int t, double size) {
  if (t < 0)
    return 0.0;
  if (t < 3)
    return t == 0 ? 1800.0 : (t == 1 ? -900.0 : 300.0);
  const double ms = t / 20.0;
  const double volley = -120.0 * std::exp(-std::pow((ms - 1.2) / 0.25, 2.0));
  const double tau = 6.0;
  const double wave = -700.0 * (ms / tau) * std::exp(1.0 - ms / tau);
  const double spike = -650.0 * std::exp(-std::pow((ms - 4.5) / 0.6, 2.0));
  return size * (volley + wave + spike);
}

// Samples of one sweep as the amplifier gives them: baseline and noise, the
// answer to the stimulus, a slow drift from sweep to sweep.
std::vector<std::uint8_t> sweep_bytes(Board &board, bool with_leading) {
  const double size = 0.9 + 0.2 * dapsim::uniform(board);
  const double drift = 8.0 * std::sin(static_cast<double>(board.now()) / 3000.0);
  const int leading = with_leading ? kLeadingSamples : 0;
  std::vector<std::uint8_t> out;
  out.reserve(2 * static_cast<std::size_t>(leading + kSweepSamples));
  for (int i = 0; i < leading + kSweepSamples; ++i) {
    const int t = i - leading - kStimulusSample;
    append_sample(out, kBaseline[0] + drift + kNoise * gaussian(board) + evoked(t, size));
  }
  return out;
}

// Hands queued bytes to the host at the sampling rate of the sweep.
class Pacer {
public:
  bool busy() const { return !pending_.empty(); }
  void load(std::vector<std::uint8_t> bytes) { pending_.assign(bytes.begin(), bytes.end()); }
  void clear() { pending_.clear(); }
  void tick(Board &board) {
    std::vector<std::uint8_t> slice;
    for (int i = 0; i < 2 * kSweepSamplesPerTick && !pending_.empty(); ++i) {
      slice.push_back(pending_.front());
      pending_.pop_front();
    }
    if (!slice.empty())
      board.send_binary(slice);
  }

private:
  std::deque<std::uint8_t> pending_;
};

// A sweep is only begun when the host has room for all of it: a board that
// dropped the middle of a sweep would shift every later record by the lost
// bytes.
bool room_for(Board &board, std::size_t bytes, const char *task) {
  if (board.binary_room() >= bytes)
    return true;
  board.note(std::string(task) + ": sweep dropped, host not reading");
  return false;
}

class LeadingAndSweep : public dapsim::Task {
public:
  void on_start(Board &, Tick now) override {
    next_ = now + 1;
    pacer_.clear();
  }
  void on_stop(Board &, Tick) override { pacer_.clear(); }
  void on_tick(Board &board, Tick now) override {
    if (!pacer_.busy() && now >= next_ && board.running("shrtreca")) {
      next_ = now + kSweepPeriodTicks;
      const std::size_t bytes = 2 * static_cast<std::size_t>(kLeadingSamples + kSweepSamples);
      if (room_for(board, bytes, "shrtrecb"))
        pacer_.load(sweep_bytes(board, true));
    }
    pacer_.tick(board);
  }

private:
  Tick next_ = 0;
  Pacer pacer_;
};

class TriggeredSweep : public dapsim::Task {
public:
  void on_start(Board &, Tick) override { pacer_.clear(); }
  void on_stop(Board &, Tick) override { pacer_.clear(); }
  void on_tick(Board &board, Tick) override {
    if (!pacer_.busy() && board.running("shrtreca") && !board.take_pipe("trigpipe", 1).empty()) {
      if (room_for(board, 2 * static_cast<std::size_t>(kSweepSamples), "shrtrecc"))
        pacer_.load(sweep_bytes(board, false));
    }
    pacer_.tick(board);
  }

private:
  Pacer pacer_;
};

// offseta averages the inputs while no stimulus is given; offsetb sends what
// it found, once, a few ticks after it starts.
class OffsetRecord : public dapsim::Task {
public:
  void on_start(Board &, Tick now) override {
    due_ = now + 3;
    sent_ = false;
  }
  void on_tick(Board &board, Tick now) override {
    if (sent_ || now < due_ || !board.running("offseta"))
      return;
    std::vector<std::uint8_t> record;
    for (double base : kBaseline)
      append_sample(record, base + 0.5 * gaussian(board));
    board.send_binary(record);
    sent_ = true;
  }

private:
  Tick due_ = 0;
  bool sent_ = false;
};

// A number given in the task's body as "<keyword> <value>", or `fallback`.
long body_value(const dapsim::TaskDefinition &d, const std::string &keyword, long fallback) {
  for (const std::string &line : d.body) {
    std::istringstream in(line);
    std::string word;
    long value = 0;
    if (in >> word && word.size() == keyword.size() &&
        std::equal(
            word.begin(), word.end(), keyword.begin(),
            [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }) &&
        in >> value)
      return value;
  }
  return fallback;
}

// The long run's recorder: the cell charges towards the level that v1
// commands while the pulse lasts; once the pulse ends the recorder streams
// the relaxation back to rest, with noise and spontaneous synaptic events,
// for as long as recordb passes it to the host.
class PulseRecorder : public dapsim::Task {
public:
  explicit PulseRecorder(const dapsim::TaskDefinition &d)
      : input_(static_cast<int>(body_value(d, "INPUT", 0) & 3)),
        period_us_(std::max(10L, std::min(10000L, body_value(d, "PERIOD", 50)))) {}

  void on_start(Board &, Tick now) override {
    last_ = now;
    level_ = 0.0;
    pulse_ = 0.0;
    streaming_ = false;
  }
  void on_let(Board &, const std::string &variable, std::int64_t value) override {
    if (variable.size() != 2 || std::toupper(static_cast<unsigned char>(variable[0])) != 'V' ||
        variable[1] != '1')
      return;
    if (value == 0 && pulse_ != 0.0) {
      streaming_ = true;
      relaxation_ = level_;
    }
    pulse_ = static_cast<double>(value);
  }
  void on_tick(Board &board, Tick now) override {
    const Tick elapsed = now - last_;
    last_ = now;
    // The membrane follows the command with a 0.4 s time constant.
    const double target = pulse_ / 16384.0 * (1800.0 + 300.0 * input_);
    level_ = target + (level_ - target) * std::exp(-static_cast<double>(elapsed) / 40.0);
    if (!streaming_ || !board.running("recordb"))
      return;
    owed_us_ += 10000.0 * static_cast<double>(elapsed);
    std::vector<std::uint8_t> bytes;
    const double decay = std::exp(-period_us_ / 400000.0);
    while (owed_us_ >= static_cast<double>(period_us_)) {
      owed_us_ -= static_cast<double>(period_us_);
      relaxation_ *= decay;
      if (dapsim::uniform(board) < static_cast<double>(period_us_) * 3e-6)
        event_ += -(60.0 + 40.0 * dapsim::uniform(board));
      event_ *= std::exp(-period_us_ / 8000.0);
      const double base = -60.0 - 25.0 * input_;
      append_sample(bytes, base + relaxation_ + event_ + 6.0 * gaussian(board));
    }
    if (!bytes.empty())
      board.send_binary(bytes);
  }

private:
  int input_;
  long period_us_;
  Tick last_ = 0;
  double level_ = 0.0;
  double pulse_ = 0.0;
  double relaxation_ = 0.0;
  double event_ = 0.0;
  double owed_us_ = 0.0;
  bool streaming_ = false;
};

} // namespace

DAPSIM_TASK("shrtrecb",
            [](const dapsim::TaskDefinition &) { return std::make_unique<LeadingAndSweep>(); });
DAPSIM_TASK("shrtrecc",
            [](const dapsim::TaskDefinition &) { return std::make_unique<TriggeredSweep>(); });
DAPSIM_TASK("offsetb",
            [](const dapsim::TaskDefinition &) { return std::make_unique<OffsetRecord>(); });
DAPSIM_TASK("recorda",
            [](const dapsim::TaskDefinition &d) { return std::make_unique<PulseRecorder>(d); });
