// The simulated DAP board as its task behaviours see it.
//
// A DAPL task that the host STARTs runs the behaviour registered for its name
// (lower case), provided a DAPL file or PDEF/ODEF block has defined the task.
// Behaviours are driven by the virtual tick clock and by what the host sends:
// they put bytes on the binary channel (board to host), take bytes the host
// wrote to the binary channel, read LET variables and FILLed pipes, and record
// what the board's analog outputs played.
//
// To add the default behaviour of a task family, put a source file in
// sim/behaviours/ that registers factories with DAPSIM_TASK(name) { ... }.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace dapsim {

using Tick = std::int64_t;

// A task as the DAPL text defined it.
struct TaskDefinition {
  std::string name;               // lower case
  std::string kind;               // "pdef", "odef", "idef" or "file" (named in a START only)
  std::vector<std::string> body;  // the lines between the header and END, without "\r"
  std::string header;             // the defining line, e.g. "odef elstimb 2"
};

class Board;

// The behaviour of one started task. All hooks run with the board locked, on
// whatever thread made the device call; they must not block. An exception
// that escapes a hook is caught and noted in the trace; the run goes on.
class Task {
public:
  virtual ~Task() = default;
  // START: the task begins. `now` is the current tick.
  virtual void on_start(Board &, Tick /*now*/) {}
  // STOP (or RESET, or a new START of the same task): the task ends.
  virtual void on_stop(Board &, Tick /*now*/) {}
  // Once for every tick the clock passes while the task runs, in order.
  virtual void on_tick(Board &, Tick /*now*/) {}
  // The host wrote to the binary channel; the bytes wait in the board's
  // binary input (Board::binary_input_*). Called after every such write.
  virtual void on_binary_input(Board &, Tick /*now*/) {}
  // A LET or FILL line reached the board while the task runs.
  virtual void on_let(Board &, const std::string & /*variable*/, std::int64_t /*value*/) {}
  virtual void on_fill(Board &, const std::string & /*pipe*/,
                       const std::vector<std::int64_t> & /*values*/) {}
};

using TaskFactory = std::function<std::unique_ptr<Task>(const TaskDefinition &)>;

// Registers the default behaviour of a task name (lower case).
void register_task(const std::string &name, TaskFactory factory);

struct TaskRegistration {
  TaskRegistration(const char *name, TaskFactory factory) {
    register_task(name, std::move(factory));
  }
};

class Board {
public:
  virtual ~Board() = default;

  virtual Tick now() const = 0;

  // Board to host. Bytes beyond the binary FIFO's free room are lost and
  // counted in the trace, as on the real driver.
  virtual void send_binary(const std::uint8_t *bytes, std::size_t count) = 0;
  void send_binary(const std::vector<std::uint8_t> &bytes) { send_binary(bytes.data(), bytes.size()); }
  virtual void send_text(const std::string &text) = 0;
  // Free room in the board-to-host binary FIFO.
  virtual std::size_t binary_room() const = 0;

  // Host to board: bytes written to the binary channel, not yet taken.
  virtual std::size_t binary_input_size() const = 0;
  // Takes up to `max` bytes from the front of the binary input.
  virtual std::vector<std::uint8_t> take_binary_input(std::size_t max) = 0;

  // DAPL variables set with LET (names upper-cased; 0 when never set).
  virtual std::int64_t variable(const std::string &name) const = 0;
  // Values FILLed into a pipe and not yet taken.
  virtual std::vector<std::int64_t> take_pipe(const std::string &name, std::size_t max) = 0;

  // What an analog output played (output 0 is a0, 1 is a1).
  virtual void record_output(int output, std::int16_t value) = 0;

  // True once the board loader has run since the simulator started.
  virtual bool loaded() const = 0;

  // Random numbers for noise and spike timing; seeded from the scenario's
  // seed at every board reset (a DAPL RESET, the control "reset" or "seed"),
  // so the same scenario gives the same bytes.
  virtual std::mt19937 &random() = 0;

  // A line for the trace, prefixed with the tick ("note <text>").
  virtual void note(const std::string &text) = 0;

  // Other tasks, for families whose tasks cooperate (e.g. a recorder that
  // waits for its trigger task).
  virtual bool running(const std::string &task) const = 0;
};

// What the behaviours share: the board's 16-bit words travel low byte first.
inline void append_word(std::vector<std::uint8_t> &out, std::uint16_t word) {
  out.push_back(static_cast<std::uint8_t>(word & 0xFFu));
  out.push_back(static_cast<std::uint8_t>(word >> 8));
}

inline std::int16_t signed_word(std::uint8_t low, std::uint8_t high) {
  const int u = low | (high << 8);
  return static_cast<std::int16_t>(u < 0x8000 ? u : u - 0x10000);
}

// A value as the board's converter gives it: rounded, and held at the ends
// of a word.
inline std::int16_t saturate16(double v) {
  if (v > 32767.0)
    return 32767;
  if (v < -32768.0)
    return -32768;
  return static_cast<std::int16_t>(std::lround(v));
}

// A uniform number in [0, 1) from the board's generator.
inline double uniform(Board &board) { return static_cast<double>(board.random()()) / 4294967296.0; }

} // namespace dapsim

#define DAPSIM_CONCAT2(a, b) a##b
#define DAPSIM_CONCAT(a, b) DAPSIM_CONCAT2(a, b)
// DAPSIM_TASK("shrtreca", [](const dapsim::TaskDefinition &d) { return std::make_unique<X>(d); });
#define DAPSIM_TASK(name, factory)                                                                 \
  static ::dapsim::TaskRegistration DAPSIM_CONCAT(dapsim_task_, __COUNTER__)(name, factory)
