// Every family of commands on the MATLAB-like host (mex_host.h), on the
// simulated board: a normal run, an argument error, a failed open, and Ctrl-C
// by signal and by the interrupt query, and each guarded command interrupted
// after each of its device operations in turn. Whatever the ending, the call must
// leave no device and no descriptor open, the host's SIGINT disposition as it
// was and no handler of a plug-in installed, and the host must run the next
// command normally. Last, each record stream read short once half way through.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_checks.h"
#include "mex_host.h"
#include "sim_control.h"

namespace {

using mexhost::Array;
using mexhost::Outcome;
using mexhost::Plugin;

constexpr char kClosing[] = "Closing binary and text channels to DAP.";
constexpr char kExiting[] = "Exiting MEX function.";
// PairOut ends after its current 100-tick pass: the longest a command may run
// on after a Ctrl-C.
constexpr long kPromptTicks = 110;

std::string plugin_path(const std::string &name) {
  const char *dir = std::getenv("DAP_HOST_PLUGIN_DIR");
  return std::string(dir != nullptr ? dir : DAP_HOST_PLUGIN_DIR) + "/" + name + ".mex";
}

long board_tick() { return std::stol(simctl::command("clock")); }

// One line of the board's trace: "<tick> <event> <node> ... [xN]".
struct TraceEvent {
  long tick = -1;
  std::string event;
  std::string node;
  long repeat = 1;
};

TraceEvent parse(const std::string &line) {
  TraceEvent e;
  std::istringstream in(line);
  in >> e.tick >> e.event >> e.node;
  const auto x = line.rfind(" x");
  if (x != std::string::npos && x + 2 < line.size() &&
      line.find_first_not_of("0123456789", x + 2) == std::string::npos)
    e.repeat = std::stol(line.substr(x + 2));
  return e;
}

// A call's own use of a device: an open, transfer, request or close.
bool device_use(const TraceEvent &e) {
  static const std::set<std::string> kUses = {"open", "read", "write", "ioctl", "close"};
  return kUses.count(e.event) != 0 && e.node.rfind("accel", 0) == 0;
}

// The device operations a trace line stands for, as the board counts them
// for "sigint op N".
long operations(const TraceEvent &e) {
  const bool counted = device_use(e) || ((e.event == "release" || e.event == "stale") &&
                                         e.node.rfind("accel", 0) == 0);
  return counted ? e.repeat : 0;
}

long operations(const std::vector<std::string> &trace) {
  long n = 0;
  for (const auto &line : trace)
    n += operations(parse(line));
  return n;
}

// The board hands its trace over whole, and the interrupt query, asked
// before every device operation, counts them: in a polling command that is
// thousands of fetches of a growing trace. So the run's trace is taken from
// the board as it grows, emptying the board's each time.
std::vector<std::string> g_trace_taken;
long g_operations_taken = 0;

void take_trace() {
  for (auto &line : simctl::trace()) {
    g_operations_taken += operations(parse(line));
    g_trace_taken.push_back(std::move(line));
  }
  simctl::command("trace clear");
}

void start_trace() {
  simctl::command("trace clear");
  g_trace_taken.clear();
  g_operations_taken = 0;
}

// Device operations since start_trace().
long device_operations() {
  take_trace();
  return g_operations_taken;
}

// ------------------------------------------------------------------ table

// finishes: no guard, but after a Ctrl-C the call still tells the board to
// stop (WaveOut), as own_handler does with a handler of its own (PairOut).
enum class Guard { guarded, none, own_handler, finishes };
enum class Channels { text, both };

// op: once the call has made n device operations; tick: n ticks into the call.
struct CtrlC {
  bool by_tick;
  long n;
};
CtrlC op(long n) { return {false, n}; }
CtrlC tick(long n) { return {true, n}; }

struct Call {
  std::string plugin;
  std::vector<Array> args;
};

struct BadArgument {
  std::vector<Array> args;
  bool opens_first; // refused only after the channels were opened
};

struct Command {
  std::string name;
  std::vector<Array> args;
  int nargout;
  std::pair<std::size_t, std::size_t> result; // size of result 1 of a normal run
  std::vector<BadArgument> bad;
  Channels channels;
  Guard guard;
  CtrlC ctrl_c;            // chosen so that the call holds its channels then
  std::vector<Call> setup; // what the command expects on the board
};

Array text(const std::string &s) { return Array::string(s); }
Array number(double v) { return Array::row({v}); }
std::vector<double> ramp(std::size_t n) {
  std::vector<double> v(n);
  std::iota(v.begin(), v.end(), 0.0);
  return v;
}
Array ramp_row(std::size_t n) { return Array::row(ramp(n)); }
Array ramp_column(std::size_t n) { return Array::matrix(n, 1, ramp(n)); }

// WaveOut waits for a character on standard input; here it is at its end.
const bool g_stdin_at_end = [] {
  const int null = open("/dev/null", O_RDONLY);
  const bool ok = null >= 0 && dup2(null, STDIN_FILENO) == STDIN_FILENO;
  if (null > STDIN_FILENO)
    close(null);
  return ok;
}();

const std::vector<Command> &commands() {
  using G = Guard;
  using C = Channels;
  static const std::vector<Command> table = {
      // Board control.
      {"BrdClear", {}, 0, {0, 0}, {}, C::both, G::guarded, op(3), {}},
      {"BrdCmd", {text("start lab")}, 0, {0, 0}, {{{}, false}}, C::text, G::guarded, op(2), {}},
      {"BrdLoad",
       {text("opstim")},
       0,
       {0, 0},
       {{{text(std::string(45, 'x'))}, false}},
       C::text,
       G::guarded,
       op(2),
       {}},
      {"BrdLoadPath",
       {text("shrtrecT.dap")},
       0,
       {0, 0},
       {{{}, false}, {{text(std::string(80, 'x'))}, false}},
       C::text,
       G::guarded,
       op(2),
       {}},
      // Short-record sessions and the long run.
      {"SwpOpen", {}, 0, {0, 0}, {}, C::both, G::none, op(3), {}},
      {"SwpClose", {}, 0, {0, 0}, {}, C::both, G::none, tick(5), {}},
      {"SwpInit", {}, 0, {0, 0}, {}, C::both, G::guarded, op(3), {}},
      {"SwpOffset", {}, 1, {1, 2}, {}, C::both, G::guarded, op(3), {{"SwpInit", {}}}},
      {"SwpStart", {number(2)}, 0, {0, 0}, {{{}, false}}, C::both, G::guarded, op(3), {}},
      {"SwpRead",
       {number(2)},
       1,
       {671, 2},
       {{{text("2")}, false}},
       C::both,
       G::guarded,
       tick(30),
       {{"SwpInit", {}}, {"SwpStart", {number(2)}}}},
      {"SwpStop", {number(2)}, 0, {0, 0}, {{{}, false}}, C::both, G::guarded, op(3), {}},
      {"marathon",
       {text("A")},
       1,
       {1, 200000},
       {{{text("I")}, true}, {{text("AB")}, false}},
       C::both,
       G::guarded,
       tick(100),
       {}},
      // Triggered acquisition.
      {"TandemInit", {}, 0, {0, 0}, {}, C::both, G::guarded, op(3), {}},
      {"TandemStart", {}, 0, {0, 0}, {}, C::both, G::guarded, op(3), {{"TandemInit", {}}}},
      {"TandemRead",
       {ramp_row(8)},
       1,
       {1, 8},
       {{{ramp_row(3)}, false}},
       C::both,
       G::guarded,
       tick(30),
       {{"TandemInit", {}}, {"TandemStart", {}}}},
      {"GateInit", {}, 0, {0, 0}, {}, C::both, G::guarded, op(3), {}},
      {"GateRead", {}, 1, {3, 1000}, {}, C::both, G::guarded, tick(30), {{"GateInit", {}}}},
      {"SpikerInit", {}, 0, {0, 0}, {}, C::both, G::guarded, op(3), {}},
      {"spiker", {}, 1, {1, 17600}, {}, C::both, G::guarded, tick(100), {{"SpikerInit", {}}}},
      {"SmartRead",
       {},
       1,
       {3000, 9},
       {},
       C::both,
       G::none,
       tick(100),
       {{"BrdLoad", {text("smart")}}}},
      // Stimulus output.
      {"PairInit", {}, 0, {0, 0}, {}, C::both, G::guarded, op(3), {}},
      {"PairStart", {}, 0, {0, 0}, {}, C::both, G::guarded, tick(5), {{"PairInit", {}}}},
      {"PairSend",
       {ramp_column(3000)},
       0,
       {0, 0},
       {{{text("abc")}, false}},
       C::both,
       G::guarded,
       tick(20),
       {{"PairInit", {}}, {"PairStart", {}}}},
      {"WaveData",
       {ramp_row(602)},
       0,
       {0, 0},
       {{{ramp_row(601)}, false}},
       C::both,
       G::none,
       op(3),
       {}},
      // Standard input is at its end here (see below): the output stops at once.
      {"WaveOut",
       {ramp_row(602)},
       0,
       {0, 0},
       {{{ramp_row(601)}, false}},
       C::both,
       G::finishes,
       op(19),
       {}},
      {"WaveInit", {}, 0, {0, 0}, {}, C::both, G::none, op(3), {}},
      {"WaveHalt", {}, 0, {0, 0}, {}, C::both, G::none, op(3), {{"WaveInit", {}}}},
      {"PairOut",
       {ramp_row(602)},
       0,
       {0, 0},
       {{{ramp_row(601)}, false}},
       C::both,
       G::own_handler,
       tick(150),
       {}},
      // Stimulus-response runs.
      {"StimResp2",
       {Array::row(std::vector<double>(8, 0.0))},
       1,
       {300, 9},
       {{{ramp_column(8)}, false}},
       C::both,
       G::guarded,
       tick(100),
       {}},
      {"StimResp", {}, 1, {300, 9}, {}, C::both, G::guarded, tick(100), {}},
  };
  return table;
}

enum class Kind { normal, bad_argument, failed_open, ctrl_c_signal, ctrl_c_query, refused_writes };

struct Case {
  const Command *command;
  Kind kind;
  std::size_t variant; // which bad argument
};

std::vector<Case> all_cases() {
  std::vector<Case> cases;
  for (const Command &c : commands()) {
    cases.push_back({&c, Kind::normal, 0});
    for (std::size_t v = 0; v < c.bad.size(); ++v)
      cases.push_back({&c, Kind::bad_argument, v});
    cases.push_back({&c, Kind::failed_open, 0});
    cases.push_back({&c, Kind::ctrl_c_signal, 0});
    cases.push_back({&c, Kind::ctrl_c_query, 0});
    cases.push_back({&c, Kind::refused_writes, 0});
  }
  return cases;
}

std::string case_name(const Case &c);
// What gtest shows for a failed case.
void PrintTo(const Case &c, std::ostream *out) { *out << case_name(c); }

std::string case_name(const Case &c) {
  static const char *const kKinds[] = {"normal",        "bad_argument", "failed_open",
                                       "ctrl_c_signal", "ctrl_c_query", "refused_writes"};
  std::string name = c.command->name + "_" + kKinds[static_cast<int>(c.kind)];
  if (c.kind == Kind::bad_argument && c.command->bad.size() > 1)
    name += std::to_string(c.variant + 1);
  return name;
}

const Case &find_case(const std::string &name) {
  static const std::vector<Case> cases = all_cases();
  for (const Case &c : cases)
    if (case_name(c) == name)
      return c;
  std::abort();
}

// -------------------------------------------------------------- one run

struct ScenarioRun {
  std::string setup_failure;
  std::unique_ptr<Plugin> plugin;
  Outcome outcome;
  std::vector<std::string> trace;
  std::map<int, std::string> descriptors_before;
  hostcheck::Disposition disposition_before;
  long start_tick = 0;
  long end_tick = 0;
  long interrupt_tick = -1; // -1: the Ctrl-C never reached the call
};

long g_query_tick = -1;

// setup_ops: what the setup calls did, which "sigint op N" counts as well.
void arm(const Case &c, long start_tick, long setup_ops) {
  const Command &command = *c.command;
  const CtrlC &ctrl_c = command.ctrl_c;
  switch (c.kind) {
  case Kind::refused_writes:
    simctl::command("fault writefail accel0 EIO");
    simctl::command("fault writefail accel1 EIO");
    break;
  case Kind::failed_open:
    simctl::command(std::string("fault missing ") +
                    (command.channels == Channels::text ? "accel0" : "accel1") + " ENOENT");
    break;
  case Kind::ctrl_c_signal:
    simctl::command(ctrl_c.by_tick ? "sigint tick " + std::to_string(start_tick + ctrl_c.n)
                                   : "sigint op " + std::to_string(setup_ops + ctrl_c.n));
    break;
  case Kind::ctrl_c_query:
    g_query_tick = -1;
    // However often the plug-in asks, the answer turns at the same point of
    // the call as the signal does.
    mexhost::set_interrupt_source([ctrl_c, start_tick] {
      const bool due =
          ctrl_c.by_tick ? board_tick() >= start_tick + ctrl_c.n : device_operations() >= ctrl_c.n;
      if (due)
        g_query_tick = board_tick();
      return due;
    });
    break;
  default:
    break;
  }
}

// before_call: what the scenario arms last, just before the call.
ScenarioRun run_case(const Case &c, const std::function<void()> &before_call = {}) {
  const Command &command = *c.command;
  ScenarioRun run;
  mexhost::install_sigint_handler();
  mexhost::clear_interrupt();
  simctl::command("reset");
  start_trace();
  for (const Call &step : command.setup) {
    Plugin plugin(plugin_path(step.plugin));
    const Outcome o = plugin.call(0, step.args);
    if (!o.returned || o.failed())
      run.setup_failure += step.plugin + " failed: " + plugin.error() + o.error_message + "\n";
  }
  // What the setup did to the disposition is another scenario's business.
  mexhost::install_sigint_handler();
  const long setup_ops = device_operations();
  start_trace();

  run.descriptors_before = hostcheck::open_descriptors();
  run.disposition_before = hostcheck::sigint_disposition();
  run.start_tick = board_tick();
  arm(c, run.start_tick, setup_ops);
  if (before_call)
    before_call();
  run.plugin = std::make_unique<Plugin>(plugin_path(command.name));
  const auto &args = c.kind == Kind::bad_argument ? command.bad[c.variant].args : command.args;
  run.outcome = run.plugin->call(command.nargout, args);
  run.end_tick = board_tick();
  take_trace();
  run.trace = g_trace_taken;

  if (c.kind == Kind::ctrl_c_query) {
    run.interrupt_tick = g_query_tick;
  } else if (c.kind == Kind::ctrl_c_signal) {
    for (const auto &line : run.trace) {
      const TraceEvent e = parse(line);
      if (e.event == "sigint" && e.node.empty()) {
        run.interrupt_tick = e.tick;
        break;
      }
    }
  }
  return run;
}

// --------------------------------------------------------------- checks

// The index of the trace line that follows device operation k.
std::size_t line_after_operation(const std::vector<std::string> &trace, long k) {
  long n = 0;
  std::size_t i = 0;
  for (; i < trace.size() && n < k; ++i)
    n += operations(parse(trace[i]));
  return i;
}

std::size_t occurrences(const std::string &text, const std::string &needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

std::vector<std::size_t> lines_with(const std::vector<std::string> &trace,
                                    const std::string &needle) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < trace.size(); ++i)
    if (trace[i].find(needle) != std::string::npos)
      at.push_back(i);
  return at;
}

std::string last_lines(const std::vector<std::string> &trace, std::size_t count) {
  std::string text;
  for (std::size_t i = trace.size() > count ? trace.size() - count : 0; i < trace.size(); ++i)
    text += trace[i] + "\n";
  return text;
}

// A guarded call that was interrupted holding its channels: the guard's two
// lines once, the binary channel let go before the text channel, and no
// device touched afterwards.
void expect_guard_took_channels(const Command &command, const ScenarioRun &run,
                                const std::string &said) {
  EXPECT_EQ(occurrences(said, kClosing), 1u);
  EXPECT_EQ(occurrences(said, kExiting), 1u);
  EXPECT_LT(said.find(kClosing), said.find(kExiting));
  const auto binary = lines_with(run.trace, "release accel1");
  const auto text = lines_with(run.trace, "release accel0");
  ASSERT_EQ(text.size(), 1u) << "the text channel must be let go once";
  if (command.channels == Channels::both) {
    ASSERT_EQ(binary.size(), 1u) << "the binary channel must be let go once";
    EXPECT_LT(binary[0], text[0]) << "the binary channel goes first";
  }
  const std::size_t first = binary.empty() ? text[0] : std::min(binary[0], text[0]);
  for (std::size_t i = first + 1; i < run.trace.size(); ++i)
    EXPECT_FALSE(device_use(parse(run.trace[i])))
        << "device used after the interrupt: " << run.trace[i];
}

void expect_interrupted(const Case &c, const ScenarioRun &run, const std::string &said) {
  const Command &command = *c.command;
  const bool by_signal = c.kind == Kind::ctrl_c_signal;
  if (run.interrupt_tick < 0) {
    ADD_FAILURE() << (by_signal ? "the SIGINT never came during the call"
                                : "the interrupt query never answered true: the plug-in asked " +
                                      std::to_string(mexhost::interrupt_queries()) + " times");
    return;
  }
  if (command.guard == Guard::guarded) {
    expect_guard_took_channels(command, run, said);
  } else {
    EXPECT_EQ(occurrences(said, kClosing), 0u);
  }
  if (command.guard == Guard::none || command.guard == Guard::finishes) {
    // Without a guard the call still sends nothing more: it only closes, or
    // stops the output it started.
    std::size_t from = 0;
    if (by_signal)
      from = lines_with(run.trace, " sigint").front() + 1;
    else if (!command.ctrl_c.by_tick)
      from = line_after_operation(run.trace, command.ctrl_c.n);
    else
      while (from < run.trace.size() && parse(run.trace[from]).tick <= run.interrupt_tick)
        ++from;
    for (std::size_t i = from; i < run.trace.size(); ++i) {
      const TraceEvent e = parse(run.trace[i]);
      const bool stop =
          command.guard == Guard::finishes && run.trace[i].find("\"STOP\\r\"") != std::string::npos;
      EXPECT_FALSE(device_use(e) && e.event != "close" && !stop)
          << "device used after the interrupt: " << run.trace[i];
    }
  }
  EXPECT_LE(run.end_tick - run.interrupt_tick, kPromptTicks)
      << "the call ran on after the Ctrl-C (ticks " << run.interrupt_tick << " to " << run.end_tick
      << ")";
  if (by_signal) {
    // The interrupt is the host's: its handler runs once, as it was installed,
    // after the guard's. PairOut's own handler keeps it.
    const int runs = command.guard == Guard::own_handler ? 0 : 1;
    EXPECT_EQ(mexhost::sigint_handler_runs(), runs) << "runs of the host's SIGINT handler";
    EXPECT_EQ(mexhost::sigint_handler_runs_as_installed(), runs)
        << "runs of the host's handler with SA_SIGINFO in force, on its alternate stack";
  } else {
    EXPECT_EQ(mexhost::sigint_handler_runs(), 0);
    EXPECT_TRUE(mexhost::interrupt_pending()) << "the host's interrupt must stay pending";
  }
  if (command.guard == Guard::own_handler || command.guard == Guard::finishes) {
    const char *stop = command.guard == Guard::own_handler ? "\"stop\\r\"" : "\"STOP\\r\"";
    EXPECT_FALSE(lines_with(run.trace, stop).empty()) << "the output was not stopped";
  }
}

void expect_next_command_runs() {
  mexhost::clear_interrupt();
  simctl::command("reset");
  Plugin next(plugin_path("BrdClear"));
  const Outcome o = next.call(0);
  EXPECT_TRUE(o.returned && !o.failed()) << "BrdClear afterwards: " << o.error_message;
  EXPECT_EQ(o.printed + o.standard_output, "") << "BrdClear afterwards";
  EXPECT_FALSE(simctl::trace_matching("write accel0 7 \"\\rRESET\\r\"").empty())
      << "BrdClear afterwards did not reach the board";
  EXPECT_EQ(simctl::command("open"), "0");
  mexhost::install_sigint_handler();
}

// A driver that refuses every write: the call says so once and returns its
// results as they are, or, PairSend, ends by its own error. No call waits for
// data from tasks the board never heard of; PairOut plays its passes.
void expect_refusal_said(const Command &command, const ScenarioRun &run) {
  const Outcome &out = run.outcome;
  const bool writes = !lines_with(run.trace, " write accel").empty();
  std::size_t said = 0;
  for (const auto &w : out.warnings)
    said += w.id == "dap:writeFailed" ? 1 : 0;
  EXPECT_EQ(said, writes ? 1u : 0u) << "dap:writeFailed warnings";
  if (command.name == "PairSend") {
    EXPECT_EQ(out.error_id, "dap:PairSend:channelFailed");
    return;
  }
  EXPECT_TRUE(out.returned && !out.failed()) << out.error_id << ": " << out.error_message;
  if (command.result.first != 0 && out.returned) {
    ASSERT_TRUE(out.results[0].has_value());
    EXPECT_EQ(out.results[0]->rows, command.result.first);
    EXPECT_EQ(out.results[0]->columns, command.result.second);
  }
  if (writes && command.name != "PairOut") {
    EXPECT_LE(run.end_tick - run.start_tick, 100) << "the call waited for data";
  }
}

class HostScenario : public ::testing::TestWithParam<Case> {};

TEST_P(HostScenario, EndsCleanly) {
  const Case &c = GetParam();
  const Command &command = *c.command;
  ScenarioRun run = run_case(c);
  ASSERT_EQ(run.setup_failure, "");
  ASSERT_TRUE(run.plugin->loaded()) << run.plugin->error();
  const Outcome &out = run.outcome;
  const std::string said = out.printed + out.standard_output;
  SCOPED_TRACE("printed:\n" + said + "\nend of the trace:\n" + last_lines(run.trace, 30));

  switch (c.kind) {
  case Kind::normal:
    EXPECT_TRUE(out.returned && !out.failed()) << out.error_id << ": " << out.error_message;
    EXPECT_TRUE(out.warnings.empty()) << out.warnings[0].message;
    EXPECT_EQ(said.find(kClosing), std::string::npos);
    EXPECT_EQ(said.find("Error opening"), std::string::npos);
    if (command.result.first != 0 && out.returned) {
      ASSERT_TRUE(out.results[0].has_value());
      EXPECT_EQ(out.results[0]->rows, command.result.first);
      EXPECT_EQ(out.results[0]->columns, command.result.second);
    }
    EXPECT_EQ(mexhost::sigint_handler_runs(), 0);
    break;
  case Kind::bad_argument:
    EXPECT_FALSE(out.returned) << "the call must end by an error";
    EXPECT_NE(out.error_message, "");
    if (!command.bad[c.variant].opens_first) {
      EXPECT_TRUE(lines_with(run.trace, "accel").empty()) << "a device was touched";
    }
    EXPECT_EQ(mexhost::sigint_handler_runs(), 0);
    break;
  case Kind::failed_open: {
    const std::string node = command.channels == Channels::text ? "accel0" : "accel1";
    EXPECT_NE(said.find("Error opening " + node + ", errno=2"), std::string::npos);
    // A result the call did not set is MATLAB's error, not the command's.
    EXPECT_TRUE(!out.failed() || out.error_id == "MATLAB:unassignedOutputs") << out.error_message;
    EXPECT_EQ(said.find(kClosing), std::string::npos);
    break;
  }
  case Kind::ctrl_c_signal:
  case Kind::ctrl_c_query:
    expect_interrupted(c, run, said);
    break;
  case Kind::refused_writes:
    expect_refusal_said(command, run);
    break;
  }

  // Whatever the ending.
  EXPECT_EQ(simctl::command("open"), "0") << "device descriptors still open";
  EXPECT_EQ(hostcheck::open_descriptors(), run.descriptors_before) << "descriptors leaked";
  const auto after = hostcheck::sigint_disposition();
  EXPECT_EQ(hostcheck::describe(after), hostcheck::describe(run.disposition_before))
      << "the SIGINT disposition is not the one from before the call";
  EXPECT_EQ(hostcheck::handler_module(after).find(".mex"), std::string::npos)
      << "a plug-in's SIGINT handler is still installed";
  EXPECT_TRUE(out.misuse.empty()) << out.misuse[0];
  // The host's own handler goes back before the plug-in is unloaded; what a
  // handler left in an unloaded plug-in does is checked in a child below.
  mexhost::install_sigint_handler();
  run.plugin->unload();
  expect_next_command_runs();
}

INSTANTIATE_TEST_SUITE_P(Commands, HostScenario, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<Case> &p) {
                           return case_name(p.param);
                         });

// After a call that ended by an error or an interrupt, the plug-in is cleared
// (dlclose); the next Ctrl-C must reach the host's own handler. ScenarioRun in a child:
// a handler left behind in the unloaded module crashes it.
class AfterUnload : public ::testing::TestWithParam<std::string> {};

TEST_P(AfterUnload, SigintReachesTheHostsHandler) {
  const Case &c = find_case(GetParam());
  const std::string failure = hostcheck::in_child([&c]() -> std::string {
    ScenarioRun run = run_case(c);
    if (!run.setup_failure.empty() || !run.plugin->loaded())
      return run.setup_failure + run.plugin->error();
    const std::string left = hostcheck::describe(hostcheck::sigint_disposition());
    run.plugin->unload();
    if (run.plugin->mapped())
      return "the plug-in is still mapped after dlclose";
    const int runs = mexhost::sigint_handler_runs();
    std::fprintf(stderr, "after the call: %s\n", left.c_str());
    raise(SIGINT);
    if (mexhost::sigint_handler_runs() != runs + 1)
      return "SIGINT did not reach the host's handler; the call left " + left;
    return "";
  });
  EXPECT_EQ(failure, "");
}

INSTANTIATE_TEST_SUITE_P(Commands, AfterUnload,
                         ::testing::Values("marathon_bad_argument1", "StimResp2_bad_argument",
                                           "SwpStart_ctrl_c_signal", "spiker_ctrl_c_query",
                                           "PairOut_ctrl_c_signal"),
                         [](const ::testing::TestParamInfo<std::string> &p) { return p.param; });

// ------------------------------------------------------------ the sweep

// A guarded command interrupted after each of its device operations in turn,
// through the interrupt query and, for some, by signal: whichever operation
// the Ctrl-C follows, the call must end as the guard's handler ends it.

// Whether the call held all its channels once it had made k device operations.
bool holds_its_channels(const Command &command, const std::vector<std::string> &trace, long k) {
  std::set<std::string> held;
  const std::size_t end = line_after_operation(trace, k);
  for (std::size_t i = 0; i < end; ++i) {
    const TraceEvent e = parse(trace[i]);
    if (e.event == "open" && trace[i].find(" fd=") != std::string::npos)
      held.insert(e.node);
    else if (e.event == "close" || e.event == "release" || e.event == "stale")
      held.erase(e.node);
  }
  return held.size() == (command.channels == Channels::both ? 2u : 1u);
}

// Every operation of a short call; of a long one, the first and last ten
// (opening, sending, draining, closing) and twenty spread between.
std::vector<long> sweep_points(long total) {
  constexpr long kEdge = 10;
  constexpr long kMiddle = 20;
  std::set<long> points;
  for (long k = 1; k <= std::min(total, kEdge); ++k)
    points.insert(k);
  for (long k = std::max(1L, total - kEdge + 1); k <= total; ++k)
    points.insert(k);
  for (long i = 1; i <= kMiddle && total > 2 * kEdge; ++i)
    points.insert(kEdge + i * (total - 2 * kEdge) / (kMiddle + 1));
  return {points.begin(), points.end()};
}

// What the call did to the board, without ticks or the simulator's own
// SIGINT lines: the same whichever way the interrupt reached the call.
std::vector<std::string> board_calls(const std::vector<std::string> &trace) {
  std::vector<std::pair<std::string, long>> calls;
  for (const auto &line : trace) {
    const TraceEvent e = parse(line);
    if (e.event == "sigint")
      continue;
    std::string call = line.substr(line.find(' ') + 1);
    if (e.repeat > 1)
      call.erase(call.rfind(" x"));
    // The trace taken piecewise splits a run of repeats.
    if (!calls.empty() && calls.back().first == call)
      calls.back().second += e.repeat;
    else
      calls.emplace_back(call, e.repeat);
  }
  std::vector<std::string> lines;
  for (const auto &[call, repeat] : calls)
    lines.push_back(repeat > 1 ? call + " x" + std::to_string(repeat) : call);
  return lines;
}

// The interrupt came after device operation k; `held`: the call held all its
// channels then.
void expect_interrupted_after(const Case &c, const ScenarioRun &run, long k, bool held) {
  const std::string said = run.outcome.printed + run.outcome.standard_output;
  const std::size_t after = line_after_operation(run.trace, k);
  std::string from_k;
  for (std::size_t i = after > 3 ? after - 3 : 0; i < std::min(run.trace.size(), after + 30); ++i)
    from_k += (i == after ? "--- interrupt\n" : "") + run.trace[i] + "\n";
  SCOPED_TRACE(std::string(c.kind == Kind::ctrl_c_signal ? "by signal" : "by query") +
               ", printed:\n" + said + "\ntrace:\n" + from_k);
  if (held)
    expect_guard_took_channels(*c.command, run, said);
  // From then on the call may only let go of its channels: a channel the
  // guard could not release (still opening, or the other one already
  // closed) is closed.
  EXPECT_EQ(operations(std::vector<std::string>(run.trace.begin(), run.trace.begin() + after)), k)
      << "the call went on repeating operation " << k << " after the interrupt";
  for (std::size_t i = after; i < run.trace.size(); ++i) {
    const TraceEvent e = parse(run.trace[i]);
    EXPECT_FALSE(device_use(e) && e.event != "close")
        << "device used after the interrupt: " << run.trace[i];
  }
  if (run.interrupt_tick >= 0) {
    EXPECT_LE(run.end_tick - run.interrupt_tick, kPromptTicks) << "the call ran on";
  }
  EXPECT_EQ(simctl::command("open"), "0") << "device descriptors still open";
  EXPECT_EQ(hostcheck::open_descriptors(), run.descriptors_before) << "descriptors leaked";
  EXPECT_EQ(hostcheck::describe(hostcheck::sigint_disposition()),
            hostcheck::describe(run.disposition_before));
  EXPECT_EQ(mexhost::sigint_handler_runs(), c.kind == Kind::ctrl_c_signal ? 1 : 0);
  EXPECT_TRUE(utIsInterruptPending()) << "the host's interrupt must stay pending";
}

// Commands also interrupted by signal, whose traces must match the query's.
const std::set<std::string> kBySignalToo = {"BrdLoad", "SwpInit",    "SwpStart",
                                            "SwpStop", "TandemRead", "StimResp2"};

class InterruptSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(InterruptSweep, AfterEachDeviceOperation) {
  const Case &normal = find_case(GetParam() + "_normal");
  const ScenarioRun reference = run_case(normal);
  ASSERT_EQ(reference.setup_failure, "");
  const long total = operations(reference.trace);
  ASSERT_GT(total, 0);
  const bool by_signal_too = kBySignalToo.count(GetParam()) != 0;
  int runs = 1;
  for (const long k : sweep_points(total)) {
    SCOPED_TRACE("interrupt after device operation " + std::to_string(k) + " of " +
                 std::to_string(total));
    Command at_k = *normal.command;
    at_k.ctrl_c = op(k);
    const bool held = holds_its_channels(at_k, reference.trace, k);
    // A signal raised by an open lands before the open has handed the call
    // its channel: the call closes that one instead of letting it go.
    const bool opening =
        parse(reference.trace[line_after_operation(reference.trace, k) - 1]).event == "open";
    const ScenarioRun by_query = run_case({&at_k, Kind::ctrl_c_query, 0});
    ASSERT_EQ(by_query.setup_failure, "");
    expect_interrupted_after({&at_k, Kind::ctrl_c_query, 0}, by_query, k, held);
    ++runs;
    if (by_signal_too) {
      const ScenarioRun by_signal = run_case({&at_k, Kind::ctrl_c_signal, 0});
      expect_interrupted_after({&at_k, Kind::ctrl_c_signal, 0}, by_signal, k, held && !opening);
      if (!opening) {
        EXPECT_EQ(board_calls(by_signal.trace), board_calls(by_query.trace))
            << "the signal and the query led to different calls";
      }
      ++runs;
    }
    mexhost::install_sigint_handler();
    if (HasFailure())
      break; // the first operation that fails tells the story
  }
  std::printf("%s: %ld device operations, %d runs\n", GetParam().c_str(), total, runs);
}

std::vector<std::string> guarded_commands() {
  std::vector<std::string> names;
  for (const Command &c : commands())
    if (c.guard == Guard::guarded)
      names.push_back(c.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Commands, InterruptSweep, ::testing::ValuesIn(guarded_commands()),
                         [](const ::testing::TestParamInfo<std::string> &p) { return p.param; });

// ------------------------------------------- no stimulus after Ctrl-C

// A Ctrl-C as the stimulus commands open their channels or reset the board,
// by signal or by the query: nothing starts, so nothing but the reset is
// sent, not even the stop line.
TEST(StimulusAfterCtrlC, NothingStarts) {
  for (const std::string name : {"PairOut", "WaveOut"})
    for (const Kind kind : {Kind::ctrl_c_signal, Kind::ctrl_c_query})
      for (const long k : {1L, 2L, 3L}) {
        Command at_k = *find_case(name + "_normal").command;
        at_k.ctrl_c = op(k);
        const ScenarioRun run = run_case({&at_k, kind, 0});
        std::vector<std::string> writes;
        for (const auto &line : run.trace)
          if (parse(line).event == "write")
            writes.push_back(line.substr(line.find(' ') + 1));
        const std::vector<std::string> reset = {"write accel0 7 \"\\rRESET\\r\" -> 7"};
        EXPECT_EQ(writes, k < 3 ? std::vector<std::string>{} : reset)
            << name << (kind == Kind::ctrl_c_signal ? " by signal" : " by query")
            << " after operation " << k;
        EXPECT_EQ(simctl::command("open"), "0");
        mexhost::install_sigint_handler();
      }
}

// ---------------------------------------- a Ctrl-C as the loader starts

// A Ctrl-C pending on the calling thread as StimResp's board loader starts
// (the host holds SIGINT there for a moment) is not thrown away: the call
// ends as interrupted before it opens a channel, and the host's handler runs
// once the host lets the signal through.
TEST(LoaderCtrlC, PendingAsTheLoaderStartsEndsTheCall) {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  sigset_t previous;
  const ScenarioRun run = run_case({&*find_case("StimResp_normal").command, Kind::normal, 0}, [&] {
    simctl::command("sigint loader");
    pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
  });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  const std::string said = run.outcome.printed + run.outcome.standard_output;
  EXPECT_EQ(occurrences(said, kClosing), 1u) << said;
  EXPECT_FALSE(lines_with(run.trace, "sigint loader").empty());
  for (const auto &line : run.trace)
    EXPECT_FALSE(device_use(parse(line))) << "device used after the interrupt: " << line;
  EXPECT_EQ(mexhost::sigint_handler_runs(), 1);
  EXPECT_EQ(hostcheck::describe(hostcheck::sigint_disposition()),
            hostcheck::describe(run.disposition_before));
  mexhost::install_sigint_handler();
}

// ------------------------------------------------------ one short read

// A read that comes back short once, half way through a record stream, costs
// no record: the rest of the record comes with the next read, and every
// later record is taken whole. The fault is armed from the host's interrupt
// query, which the plug-ins ask before every device operation; it never
// answers true.
ScenarioRun run_cut_after(const Case &normal, long operation) {
  return run_case(normal, [operation] {
    mexhost::set_interrupt_source([operation, armed = false]() mutable {
      if (!armed && device_operations() >= operation) {
        simctl::command("fault shortread accel1 5 count 1");
        armed = true;
      }
      return false;
    });
  });
}

// Reads that returned fewer bytes than they asked for.
long short_reads(const std::vector<std::string> &trace) {
  long n = 0;
  for (const auto &line : trace) {
    long asked = 0;
    long got = 0;
    const auto at = line.find(" read accel1 ");
    if (at != std::string::npos &&
        std::sscanf(line.c_str() + at, " read accel1 %ld -> %ld", &asked, &got) == 2 && got < asked)
      n += parse(line).repeat;
  }
  return n;
}

class OneShortRead : public ::testing::TestWithParam<std::string> {};

TEST_P(OneShortRead, EveryRecordIntact) {
  const Case &normal = find_case(GetParam() + "_normal");
  const ScenarioRun whole = run_case(normal);
  ASSERT_EQ(whole.setup_failure, "");
  ASSERT_TRUE(whole.outcome.results[0].has_value());
  const ScenarioRun cut = run_cut_after(normal, operations(whole.trace) / 2);
  EXPECT_EQ(short_reads(whole.trace), 0);
  EXPECT_EQ(short_reads(cut.trace), 1) << "the fault must cut one read of the stream";
  ASSERT_TRUE(cut.outcome.results[0].has_value());
  EXPECT_TRUE(cut.outcome.results[0]->values == whole.outcome.results[0]->values)
      << "records lost or shifted by one short read";
}

INSTANTIATE_TEST_SUITE_P(Commands, OneShortRead,
                         ::testing::Values("spiker", "SmartRead", "StimResp2", "StimResp",
                                           "marathon"),
                         [](const ::testing::TestParamInfo<std::string> &p) { return p.param; });

} // namespace
