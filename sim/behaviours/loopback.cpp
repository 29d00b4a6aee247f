// "loopback": a task for checking a host's plumbing against the board.
//
// It hands every byte the host writes on the binary channel straight back,
// answers LET and FILL on the text channel, plays each FILLed value on output
// a0, and says on the text channel when it starts and stops. Its counter
// variable TICKS is readable through a note every 100 ticks it runs.
//
// "noise": puts one byte of the board's random numbers on the binary channel
// every tick, so a scenario can see that its seed decides the data.
#include <memory>
#include <string>

#include "dapsim/board.h"

namespace {

using dapsim::Board;
using dapsim::Tick;

class Loopback final : public dapsim::Task {
public:
  void on_start(Board &board, Tick) override { board.send_text("loopback started\r\n"); }
  void on_stop(Board &board, Tick) override { board.send_text("loopback stopped\r\n"); }
  void on_tick(Board &board, Tick) override {
    if (++ticks_ % 100 == 0)
      board.note("loopback ran " + std::to_string(ticks_) + " ticks");
  }
  void on_binary_input(Board &board, Tick) override {
    board.send_binary(board.take_binary_input(board.binary_input_size()));
  }
  void on_let(Board &board, const std::string &variable, std::int64_t value) override {
    board.send_text("let " + variable + "=" + std::to_string(value) + "\r\n");
  }
  void on_fill(Board &board, const std::string &pipe,
               const std::vector<std::int64_t> &values) override {
    board.send_text("fill " + pipe + " " + std::to_string(values.size()) + "\r\n");
    for (const std::int64_t v : board.take_pipe(pipe, values.size()))
      board.record_output(0, static_cast<std::int16_t>(v));
  }

private:
  std::int64_t ticks_ = 0;
};

class Noise final : public dapsim::Task {
public:
  void on_tick(Board &board, Tick) override {
    const auto byte = static_cast<std::uint8_t>(board.random()() & 0xff);
    board.send_binary(&byte, 1);
  }
};

} // namespace

DAPSIM_TASK("noise", [](const dapsim::TaskDefinition &) { return std::make_unique<Noise>(); });
DAPSIM_TASK("loopback",
            [](const dapsim::TaskDefinition &) { return std::make_unique<Loopback>(); });
