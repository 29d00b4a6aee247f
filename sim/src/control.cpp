// The control language: how tests and scripts steer and inspect the board.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dapsim/control.h"
#include "real.h"
#include "rig_files.h"
#include "simulator.h"
#include "text.h"

namespace dapsim {
namespace {

using text::Token;

std::optional<int> parse_node(const Token &t) {
  const std::string n = text::lower(t.text);
  if (n == "accel0" || n == "text")
    return kTextNode;
  if (n == "accel1" || n == "binary" || n == "bin")
    return kBinaryNode;
  return std::nullopt;
}

std::optional<std::int64_t> parse_count(const Token &t, std::int64_t min, std::int64_t max) {
  if (t.quoted)
    return std::nullopt;
  const auto v = text::parse_integer(t.text);
  if (!v || *v < min || *v > max)
    return std::nullopt;
  return v;
}

constexpr std::int64_t kTickLimit = std::int64_t{1} << 40;

} // namespace

// A node's opens fail as what is at its path says (nothing, a folder, a
// device not this user's).
void Simulator::reopen_as_found(int node) {
  devices_.faults(node).missing = rig_files().open_error(node);
}

bool Simulator::control(const std::string &line, std::string *reply) {
  std::string error;
  const auto parsed = text::tokenize(line, &error);
  if (!parsed) {
    *reply = error;
    return false;
  }
  const std::vector<Token> &t = *parsed;
  auto refuse = [&](const std::string &message) {
    *reply = message;
    return false;
  };
  auto ok = [&](std::string answer = std::string()) {
    *reply = std::move(answer);
    return true;
  };
  if (t.empty())
    return refuse("empty command");
  const std::string verb = text::lower(t[0].text);
  const std::size_t n = t.size();

  if (verb == "reset" && n == 1) {
    power_on();
    return ok();
  }
  if (verb == "replay") {
    // replay | replay off | replay FILE [strict|lenient]
    if (n == 1)
      return ok(replay_ ? replay_->status() : "off");
    if (n == 2 && !t[1].quoted && text::lower(t[1].text) == "off") {
      replay_end(false);
      replay_refused_.clear();
      return ok();
    }
    bool strict = false;
    if (n == 3) {
      const std::string mode = text::lower(t[2].text);
      if (mode != "strict" && mode != "lenient")
        return refuse("usage: replay FILE [strict|lenient] | replay off | replay");
      strict = mode == "strict";
    }
    if (n > 3)
      return refuse("usage: replay FILE [strict|lenient] | replay off | replay");
    // The session is played on a power-on board, from its first call.
    power_on();
    std::string answer;
    if (!replay_start(t[1].text, strict, &answer)) {
      replay_end(false);
      return refuse(answer);
    }
    return ok(answer);
  }
  if (verb == "seed") {
    const auto v = n == 2 ? parse_count(t[1], 0, 0xFFFFFFFFll) : std::nullopt;
    if (!v)
      return refuse("usage: seed N (0 to 4294967295)");
    board_.reseed(static_cast<std::uint32_t>(*v));
    return ok();
  }
  if (verb == "clock") {
    if (n == 1)
      return ok(std::to_string(now()));
    const std::string mode = text::lower(t[1].text);
    if (mode == "real" && n == 2) {
      sync_real_clock();
      clock_.go_real();
      return ok();
    }
    if (mode == "virtual" && n <= 3) {
      int per_tick = clock_.reads_per_tick();
      if (n == 3) {
        const auto v = parse_count(t[2], 1, 1000000);
        if (!v)
          return refuse("usage: clock virtual [reads_per_tick >= 1]");
        per_tick = static_cast<int>(*v);
      }
      sync_real_clock();
      clock_.go_virtual(per_tick);
      return ok();
    }
    return refuse("usage: clock | clock virtual [reads_per_tick] | clock real");
  }
  if (verb == "advance") {
    const auto v = n == 2 ? parse_count(t[1], 0, kTickLimit) : std::nullopt;
    if (!v)
      return refuse("usage: advance N (ticks)");
    if (clock_.real())
      return refuse("advance needs the virtual clock");
    advance_to((now() + *v) * Clock::kMicrosecondsPerTick);
    return ok(std::to_string(now()));
  }
  if (verb == "queue") {
    // queue bin|text <data...> [at T]
    std::optional<int> node = n >= 3 ? parse_node(t[1]) : std::nullopt;
    if (!node)
      return refuse("usage: queue bin|text <hex bytes | \"text\"> [at T]");
    std::size_t data_end = n;
    std::optional<Tick> at;
    if (n >= 5 && !t[n - 2].quoted && text::lower(t[n - 2].text) == "at") {
      const auto v = parse_count(t[n - 1], 0, kTickLimit);
      if (!v)
        return refuse("queue: 'at' needs a tick number");
      at = *v;
      data_end = n - 2;
    }
    const std::vector<Token> data(t.begin() + 2, t.begin() + static_cast<std::ptrdiff_t>(data_end));
    const auto bytes = text::parse_bytes(data, &error);
    if (!bytes)
      return refuse("queue: " + error);
    Action action;
    action.node = *node;
    action.bytes = *bytes;
    if (!at || *at <= now())
      perform(action);
    else
      scheduled_.emplace(*at, std::move(action));
    return ok();
  }
  if (verb == "rule") {
    // rule "<line>" after T bin|text <data> | rule "<line>" after T sigint
    if (n < 5 || !t[1].quoted || text::lower(t[2].text) != "after")
      return refuse("usage: rule \"<line>\" after T bin|text <data> | sigint");
    const auto after = parse_count(t[3], 0, kTickLimit);
    if (!after)
      return refuse("rule: 'after' needs a tick count");
    Rule rule;
    rule.line = t[1].text;
    while (!rule.line.empty() && (rule.line.back() == '\r' || rule.line.back() == '\n'))
      rule.line.pop_back();
    rule.line = text::trim(rule.line);
    rule.after = *after;
    const bool host = n == 6 && text::lower(t[5].text) == "host";
    if (text::lower(t[4].text) == "sigint" && (n == 5 || host)) {
      rule.action.sigint = true;
      rule.action.delivery = host ? Delivery::host : Delivery::handler;
    } else {
      const auto node = parse_node(t[4]);
      if (!node || n < 6)
        return refuse("usage: rule \"<line>\" after T bin|text <data> | sigint");
      const std::vector<Token> data(t.begin() + 5, t.end());
      const auto bytes = text::parse_bytes(data, &error);
      if (!bytes)
        return refuse("rule: " + error);
      rule.action.node = *node;
      rule.action.bytes = *bytes;
    }
    rules_.push_back(std::move(rule));
    return ok();
  }
  if (verb == "fault") {
    if (n == 2 && text::lower(t[1].text) == "clear") {
      devices_.clear_faults();
      reopen_as_found(kTextNode);
      reopen_as_found(kBinaryNode);
      return ok();
    }
    const std::string kind = n >= 3 ? text::lower(t[1].text) : std::string();
    const std::optional<int> node = n >= 3 ? parse_node(t[2]) : std::nullopt;
    if (!node)
      return refuse("usage: fault missing|openzero|ioctl|shortwrite|writefail|readfail|shortread|"
                    "slow accel0|accel1 ... | fault clear");
    NodeFaults &f = devices_.faults(*node);
    if (kind == "missing" && n == 4) {
      const auto e = text::parse_errno(t[3].text);
      if (!e)
        return refuse("fault missing: bad errno '" + t[3].text + "'");
      f.missing = *e;
      return ok();
    }
    if (kind == "openzero" && n == 3) {
      f.openzero = true;
      return ok();
    }
    if (kind == "ioctl" && (n == 6 || n == 8)) {
      const auto request = parse_count(t[3], 0, 0xFFFFFFFFll);
      const std::string how = text::lower(t[4].text);
      if (!request)
        return refuse("fault ioctl: bad request number");
      IoctlFault fault;
      if (how == "fail") {
        const auto e = text::parse_errno(t[5].text);
        if (!e)
          return refuse("fault ioctl: bad errno '" + t[5].text + "'");
        fault.fail = true;
        fault.value = *e;
      } else if (how == "positive") {
        const auto v = parse_count(t[5], 1, 0x7FFFFFFF);
        if (!v)
          return refuse("fault ioctl: 'positive' needs a value > 0");
        fault.value = static_cast<int>(*v);
      } else {
        return refuse("usage: fault ioctl accel0|accel1 REQ fail ERRNO | positive V [count N]");
      }
      if (n == 8) {
        const auto times = parse_count(t[7], 1, kTickLimit);
        if (text::lower(t[6].text) != "count" || !times)
          return refuse("usage: fault ioctl accel0|accel1 REQ fail ERRNO | positive V [count N]");
        fault.left = static_cast<std::uint64_t>(*times);
      }
      f.ioctl[static_cast<unsigned long>(*request)] = fault;
      return ok();
    }
    if ((kind == "shortwrite" || kind == "shortread") && n == 4) {
      const auto v = parse_count(t[3], 0, 0x7FFFFFFF);
      if (!v)
        return refuse("fault " + kind + ": needs a byte count");
      (kind == "shortwrite" ? f.shortwrite : f.shortread) = static_cast<std::size_t>(*v);
      (kind == "shortwrite" ? f.shortwrite_left : f.shortread_left).reset();
      return ok();
    }
    if ((kind == "shortwrite" || kind == "shortread") && n == 6 &&
        text::lower(t[4].text) == "count") {
      const auto v = parse_count(t[3], 0, 0x7FFFFFFF);
      const auto times = parse_count(t[5], 1, kTickLimit);
      if (!v || !times)
        return refuse("usage: fault " + kind + " accel0|accel1 MAX [count N] (N >= 1)");
      (kind == "shortwrite" ? f.shortwrite : f.shortread) = static_cast<std::size_t>(*v);
      (kind == "shortwrite" ? f.shortwrite_left : f.shortread_left) =
          static_cast<std::uint64_t>(*times);
      return ok();
    }
    if (kind == "writefail" && (n == 4 || (n == 6 && text::lower(t[4].text) == "count"))) {
      const auto e = text::parse_errno(t[3].text);
      const auto times = n == 6 ? parse_count(t[5], 1, kTickLimit) : std::nullopt;
      if (!e || (n == 6 && !times))
        return refuse("usage: fault writefail accel0|accel1 ERRNO [count N] (N >= 1)");
      f.writefail = *e;
      f.writefail_left.reset();
      if (times)
        f.writefail_left = static_cast<std::uint64_t>(*times);
      return ok();
    }
    if (kind == "slow" && (n == 4 || (n == 6 && text::lower(t[4].text) == "count"))) {
      const auto ticks = parse_count(t[3], 1, 1000);
      const auto operations = n == 6 ? parse_count(t[5], 1, kTickLimit) : std::nullopt;
      if (!ticks || (n == 6 && !operations))
        return refuse("usage: fault slow accel0|accel1 T [count N] (T 1 to 1000 ticks, N >= 1)");
      f.slow = *ticks;
      f.slow_left.reset();
      if (operations)
        f.slow_left = static_cast<std::uint64_t>(*operations);
      return ok();
    }
    if (kind == "readfail" && n == 4) {
      const auto e = text::parse_errno(t[3].text);
      if (!e)
        return refuse("fault readfail: bad errno '" + t[3].text + "'");
      f.readfail = *e;
      return ok();
    }
    return refuse("unknown fault: " + line);
  }
  if (verb == "node" || verb == "dapl") {
    if (!rig_files().control(t, reply))
      return false;
    if (verb == "node" && n == 3)
      reopen_as_found(*parse_node(t[1]));
    return true;
  }
  if (verb == "freespace") {
    if (n < 2)
      return refuse("usage: freespace N N ...");
    std::vector<std::int32_t> values;
    for (std::size_t i = 1; i < n; ++i) {
      const auto v = parse_count(t[i], -0x80000000ll, 0x7FFFFFFF);
      if (!v)
        return refuse("freespace: bad value '" + t[i].text + "'");
      values.push_back(static_cast<std::int32_t>(*v));
    }
    devices_.set_freespace(std::move(values));
    return ok();
  }
  if (verb == "sigint") {
    if (n == 1) {
      struct sigaction current {};
      real::sigaction()(SIGINT, nullptr, &current);
      if (current.sa_flags & SA_SIGINFO) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "handler %p",
                      reinterpret_cast<void *>(current.sa_sigaction));
        return ok(buf);
      }
      if (current.sa_handler == SIG_DFL)
        return ok("default");
      if (current.sa_handler == SIG_IGN)
        return ok("ignore");
      char buf[40];
      std::snprintf(buf, sizeof buf, "handler %p", reinterpret_cast<void *>(current.sa_handler));
      return ok(buf);
    }
    const std::string when = text::lower(t[1].text);
    const bool host = n == 4 && text::lower(t[3].text) == "host";
    const Delivery delivery = host ? Delivery::host : Delivery::handler;
    if (when == "tick" && (n == 3 || host)) {
      const auto v = parse_count(t[2], 0, kTickLimit);
      if (!v)
        return refuse("usage: sigint tick T [host]");
      host_.sigint_at_tick(*v, delivery);
      return ok();
    }
    const bool within = n == 4 && text::lower(t[3].text) == "within";
    if (when == "op" && (n == 3 || host || within)) {
      const auto v = parse_count(t[2], 1, kTickLimit);
      if (!v)
        return refuse("usage: sigint op N [host|within] (N >= 1)");
      host_.sigint_after(static_cast<std::uint64_t>(*v), within ? Delivery::within : delivery);
      return ok();
    }
    if (when == "loader" && n == 2) {
      host_.sigint_before_loader();
      return ok();
    }
    return refuse(
        "usage: sigint | sigint tick T [host] | sigint op N [host|within] | sigint loader");
  }
  if (verb == "child") {
    const std::string when = n == 3 ? text::lower(t[1].text) : std::string();
    if (when == "tick") {
      const auto v = parse_count(t[2], 0, kTickLimit);
      if (!v)
        return refuse("usage: child tick T");
      host_.child_at_tick(*v);
      return ok();
    }
    if (when == "op") {
      const auto v = parse_count(t[2], 1, kTickLimit);
      if (!v)
        return refuse("usage: child op N (N >= 1)");
      host_.child_after(static_cast<std::uint64_t>(*v));
      return ok();
    }
    return refuse("usage: child tick T | child op N");
  }
  if (verb == "loader") {
    if (n == 1)
      return ok(loader_.describe());
    const std::string how = text::lower(t[1].text);
    if (how == "missing" && n == 2) {
      loader_.missing = true;
      loader_.interrupted = false;
      return ok();
    }
    if (how == "interrupted" && n == 2) {
      loader_.interrupted = true;
      loader_.missing = false;
      return ok();
    }
    if (how == "exit" && n == 3) {
      const auto v = parse_count(t[2], 0, 255);
      if (!v)
        return refuse("usage: loader exit N (0 to 255)");
      loader_.exit = static_cast<int>(*v);
      loader_.missing = false;
      loader_.interrupted = false;
      return ok();
    }
    return refuse("usage: loader | loader exit N | loader missing | loader interrupted");
  }
  if (verb == "trace") {
    if (n == 1) {
      return ok(trace_.text());
    }
    if (n == 2 && text::lower(t[1].text) == "clear") {
      trace_.clear();
      return ok();
    }
    return refuse("usage: trace | trace clear");
  }
  if (verb == "written" || verb == "pending") {
    const std::optional<int> node = n == 2 ? parse_node(t[1]) : std::nullopt;
    if (!node)
      return refuse("usage: " + verb + " accel0|accel1");
    if (verb == "pending")
      return ok(std::to_string(devices_.pending(*node)));
    const auto &written = devices_.written(*node);
    return ok(text::hex(written.data(), written.size(), true));
  }
  if (verb == "variable") {
    if (n != 2)
      return refuse("usage: variable NAME");
    return ok(std::to_string(board_.variable(t[1].text)));
  }
  if (verb == "tasks" && n == 1) {
    return ok(board_.task_list());
  }
  if (verb == "played") {
    const std::string which = n == 2 ? text::lower(t[1].text) : std::string();
    if (which != "a0" && which != "a1")
      return refuse("usage: played a0|a1");
    std::string out;
    for (const std::int16_t v : board_.played(which == "a0" ? 0 : 1)) {
      if (!out.empty())
        out += ' ';
      out += std::to_string(v);
    }
    return ok(out);
  }
  if (verb == "open" && n == 1)
    return ok(std::to_string(devices_.open_count()));
  if (verb == "loaded" && n == 1)
    return ok(board_.loaded() ? "1" : "0");
  return refuse("unknown command: " + line);
}

} // namespace dapsim

extern "C" __attribute__((visibility("default"))) int dapsim_command(const char *command,
                                                                     char **reply) {
  std::string answer;
  bool accepted = false;
  if (command == nullptr) {
    answer = "no command given";
  } else {
    accepted = dapsim::Simulator::get().command(command, &answer);
  }
  if (reply != nullptr) {
    *reply = static_cast<char *>(std::malloc(answer.size() + 1));
    if (*reply != nullptr)
      std::memcpy(*reply, answer.c_str(), answer.size() + 1);
  }
  return accepted ? 0 : -1;
}

extern "C" __attribute__((visibility("default"))) void dapsim_free(char *reply) {
  std::free(reply);
}
