// Replay of a recorded session: the host's device calls are matched, in
// order and channel by channel, with the calls the recorder saw on a rig.
// What the host writes is compared with what was written then; what the
// board answered (reads, request 1/2 values, failures) comes back as it
// came; times() gives the host the values it gave then. All of it runs with
// the model's lock held, like the board it stands in for.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "real.h"
#include "simulator.h"
#include "text.h"

namespace dapsim {

using dapsession::Kind;
using dapsession::Record;

namespace {

// How far ahead a lenient replay looks for the call the host made, past
// calls the host no longer makes.
constexpr std::size_t kLookAhead = 8;
// A lenient replay that has gone astray reports this many differences.
constexpr std::uint64_t kDifferencesShown = 100;

} // namespace

std::string Replay::status() const {
  const Replay &r = *this;
  std::string out = r.path + (r.strict ? " strict" : " lenient");
  for (int node = 0; node < 2; ++node)
    out += std::string(", ") + node_name(node) + " " + std::to_string(r.channel[node].next) + "/" +
           std::to_string(r.channel[node].total);
  out += ", differences " + std::to_string(r.differences);
  if (r.stopped)
    out += ", stopped";
  if (r.unfinished)
    out += ", unfinished" + std::string(r.over ? ", past its end" : "");
  return out;
}

void Replay::verdict(bool always) {
  Replay &r = *this;
  if (r.active || always) {
    std::uint64_t left = 0;
    for (const Queue *q : {&r.channel[0], &r.channel[1], &r.dapl, &r.loader})
      left += q->calls - q->passed - q->used;
    const bool past = r.ended[0] || r.ended[1];
    // The clock is played as the calls are: a command that read it past the
    // recording went on with the simulated clock, not the rig's. Values it
    // left unread are said, but do not make the replay differ: a call during
    // which a handler ran inside times() is recorded after the handler's own
    // records, and its replay ends that wait one read sooner. Calls after an
    // unfinished recording's end were expected, but none of them could be
    // checked: "exact" is said of the recorded calls only.
    const std::uint64_t clock_left = r.clock.calls - r.clock.passed - r.clock.used;
    const bool clean = r.differences == 0 && left == 0 && !past && r.unmatched.empty() &&
                       r.clock_beyond == 0;
    const bool exact = clean && r.after_end == 0;
    const char *said = exact   ? "exact"
                       : clean ? "exact to the end of an unfinished recording"
                               : "NOT exact";
    std::string line = "dapsim: replay of " + r.path + ": " + said + ": " +
                       std::to_string(r.played) + " of " + std::to_string(r.recorded) +
                       " recorded calls played, " + std::to_string(r.differences) +
                       (r.differences == 1 ? " difference" : " differences");
    if (!r.first_difference.empty())
      line += ", the first: " + r.first_difference;
    if (past)
      line += "; the script went past the end of the recording";
    if (left > 0)
      line += "; " + std::to_string(left) + " recorded calls left unplayed";
    if (r.clock_beyond > 0)
      line += "; the clock read " + std::to_string(r.clock_beyond) +
              (r.clock_beyond == 1 ? " time" : " times") + " past the end of the recording";
    if (clock_left > 0)
      line += "; " + std::to_string(clock_left) + " recorded clock values left unread";
    if (!r.unmatched.empty())
      line += "; a call with no recorded counterpart: " + r.unmatched;
    if (r.stopped)
      line += "; stopped at the first difference (strict)";
    if (r.stopped_error != 0)
      line += std::string("; the recording stopped: ") + std::strerror(r.stopped_error);
    else if (r.limit_reached)
      line += "; the recording stopped at its size limit";
    if (r.unfinished)
      line += "; the recording is unfinished" +
              (r.after_end > 0
                   ? ": " + std::to_string(r.after_end) + (r.after_end == 1 ? " call" : " calls") +
                         " came after its end and failed with EIO"
                   : std::string());
    line += "\n";
    real::write_all(2, line.data(), line.size());
    if (const char *file = std::getenv("DAPSIM_REPLAY_VERDICT"); file != nullptr && *file != '\0') {
      const int out = real::open()(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (out >= 0) {
        const std::string word = exact ? "exact\n" : clean ? "unfinished\n" : "differs\n";
        real::write_all(out, word.data(), word.size());
        real::close()(out);
      }
    }
  }
}

void Replay::note_unmatched(const std::string &call) {
  Replay &r = *this;
  if (r.unmatched.empty())
    r.unmatched = call;
}

void Replay::difference(const std::string &what) {
  Replay &r = *this;
  ++r.differences;
  if (r.first_difference.empty())
    r.first_difference = what;
  if (r.differences <= kDifferencesShown)
    out_.trace("replay differs at " + what);
  else if (r.differences == kDifferencesShown + 1)
    out_.trace("replay differs: more differences are not shown");
  if (r.strict && !r.stopped) {
    r.stopped = true;
    out_.trace("replay stopped: device calls fail with EIO");
  }
}

// The next recorded call of the channel, if it is the one the host makes.
// Otherwise the difference is reported; a lenient replay then skips a few
// recorded calls to find it, or serves the host's call from nothing.
const Record *Replay::expect(int node, Kind kind, unsigned long request,
                             const std::string &operation) {
  Replay &r = *this;
  Queue &q = r.channel[node];
  auto matches = [&](const Record &c) {
    return c.kind == kind && (kind != Kind::ioctl || c.asked == request);
  };
  r.active = true;
  auto take = [&]() -> const Record * {
    const Record &c = q.ahead.front();
    ++r.played;
    if (q.used + 1 < c.repeats) {
      ++q.used;
      return &c;
    }
    pop(q);
    return &q.taken;
  };
  const Record *expected = peek(q, 0);
  if (expected == nullptr) {
    if (after_the_end())
      return nullptr;
    if (!r.ended[node]) {
      r.ended[node] = true;
      difference(std::string(node_name(node)) + " " + operation +
                 ": the recording has no more calls on " + node_name(node));
    }
    return nullptr;
  }
  if (matches(*expected))
    return take();
  std::string shown = dapsession::kind_name(expected->kind);
  if (expected->kind == Kind::ioctl)
    shown += " " + std::to_string(expected->asked);
  difference(std::string(node_name(node)) + " " + operation + ": expected " + shown);
  if (r.stopped)
    return nullptr;
  for (std::size_t k = 1; k <= kLookAhead; ++k) {
    const Record *later = peek(q, k);
    if (later == nullptr)
      break;
    if (matches(*later)) {
      while (k-- > 0)
        pop(q);
      return take();
    }
  }
  return nullptr;
}

void Replay::clock_to(const Record &record) {
  if (record.tick >= 0)
    out_.clock_to(record.tick, false);
}

int Replay::open(int node) {
  Replay &r = *this;
  if (r.stopped)
    return EIO;
  ++r.operations[node];
  const Record *c = expect(node, Kind::open, 0, "open");
  if (r.stopped || r.over)
    return EIO;
  if (c == nullptr) {
    note_unmatched(std::string("open ") + node_name(node));
    return 0;
  }
  clock_to(*c);
  if (c->result == 0)
    return -1; // descriptor 0, as the rig's driver handed it out
  return c->result < 0 ? (c->error != 0 ? c->error : EIO) : 0;
}

ssize_t Replay::read(int node, void *buffer, size_t count) {
  Replay &r = *this;
  const std::string call = std::string("read ") + node_name(node) + " " + std::to_string(count);
  auto fail = [&](int error) -> ssize_t { return out_.failed_operation(call, error); };
  if (r.stopped)
    return fail(EIO);
  const std::uint64_t number = ++r.operations[node];
  const Record *c = expect(node, Kind::read, 0, "read " + std::to_string(number));
  if (r.stopped || r.over)
    return fail(EIO);
  std::size_t n = 0;
  if (c == nullptr)
    note_unmatched(call);
  if (c != nullptr) {
    clock_to(*c);
    if (c->result < 0)
      return fail(c->error != 0 ? c->error : EIO);
    n = std::min(count, c->data.size());
    if (n < c->data.size())
      difference(std::string(node_name(node)) + " read " + std::to_string(number) + ": asked " +
                 std::to_string(count) + ", the recording read " + std::to_string(c->data.size()));
    if (r.stopped)
      return fail(EIO);
    if (n > 0)
      std::memcpy(buffer, c->data.data(), n);
  }
  out_.trace(call + " -> " + std::to_string(n));
  out_.count_operation();
  return static_cast<ssize_t>(n);
}

ssize_t Replay::write(int node, const std::uint8_t *bytes, size_t count) {
  Replay &r = *this;
  const std::string shown =
      node == kTextNode ? text::quoted(bytes, count) : text::hex(bytes, count, false);
  const std::string call =
      std::string("write ") + node_name(node) + " " + std::to_string(count) + " " + shown;
  auto fail = [&](int error) -> ssize_t { return out_.failed_operation(call, error); };
  if (r.stopped)
    return fail(EIO);
  ++r.operations[node];
  const std::uint64_t number = ++r.writes[node];
  const std::string label = std::string(node_name(node)) + " write " + std::to_string(number);
  const Record *c = expect(node, Kind::write, 0, "write " + std::to_string(number));
  if (r.stopped || r.over)
    return fail(EIO);
  std::size_t accepted = count;
  if (c == nullptr)
    note_unmatched(call);
  if (c != nullptr) {
    clock_to(*c);
    const std::string differs =
        where_differs(node, c->data, std::vector<std::uint8_t>(bytes, bytes + count));
    if (!differs.empty()) {
      difference(label + " " + differs);
      if (r.stopped)
        return fail(EIO);
    }
    if (c->result < 0)
      return fail(c->error != 0 ? c->error : EIO);
    accepted = std::min(count, static_cast<std::size_t>(c->result));
  }
  out_.accepted(node, bytes, accepted);
  out_.trace(call + " -> " + std::to_string(accepted));
  out_.count_operation();
  return static_cast<ssize_t>(accepted);
}

int Replay::ioctl(int node, unsigned long request, void *argument) {
  Replay &r = *this;
  const std::string call = std::string("ioctl ") + node_name(node) + " " + std::to_string(request);
  auto fail = [&](int error) { return out_.failed_operation(call, error); };
  if (r.stopped)
    return fail(EIO);
  const std::uint64_t number = ++r.operations[node];
  const std::string label = "ioctl " + std::to_string(request) + " (call " +
                            std::to_string(number) + " on " + node_name(node) + ")";
  const Record *c = expect(node, Kind::ioctl, request, label);
  if (r.stopped || r.over)
    return fail(EIO);
  // A request the driver refused there is refused here before its argument,
  // which may be no pointer at all, is looked at.
  if (c != nullptr && c->result < 0) {
    clock_to(*c);
    return fail(c->error != 0 ? c->error : EIO);
  }
  if (argument == nullptr)
    return fail(EFAULT);
  std::int32_t value;
  std::memcpy(&value, argument, sizeof value);
  int rc = 0;
  if (c == nullptr) {
    note_unmatched(call);
    // Beyond the recording: an idle board, so that a host waiting for data
    // or for room runs into its own timeout rather than forever.
    if (request == 1)
      value = 0;
    else if (request == 2)
      value = static_cast<std::int32_t>(node == kBinaryNode ? BoardModel::kBinaryInputSize
                                                            : DeviceNodes::kTextFifoSize);
    else if (request == 15)
      value = 0x0100;
  } else {
    clock_to(*c);
    if (c->result < 0)
      return fail(c->error != 0 ? c->error : EIO);
    rc = static_cast<int>(c->result);
    if (request == 14) {
      if (value != c->value)
        difference(std::string(node_name(node)) + " " + label + ": value " + std::to_string(value) +
                   ", recorded " + std::to_string(c->value));
      if (r.stopped)
        return fail(EIO);
    } else {
      value = c->value;
    }
  }
  if (request != 14)
    std::memcpy(argument, &value, sizeof value);
  out_.trace(call + " -> " + std::to_string(rc) + " value=" + std::to_string(value));
  out_.count_operation();
  return rc;
}

bool Replay::close(int node, bool closed) {
  Replay &r = *this;
  if (r.stopped)
    return false;
  ++r.operations[node];
  const Record *c =
      expect(node, closed ? Kind::close : Kind::release, 0, closed ? "close" : "release");
  // After an unfinished recording's end a close still lets go, quietly.
  if (c != nullptr)
    clock_to(*c);
  else if (!r.over)
    note_unmatched(std::string(closed ? "close " : "release ") + node_name(node));
  return !r.stopped;
}

std::optional<clock_t> Replay::times(struct tms *buffer, const void *caller) {
  Queue &q = clock;
  const Record *run = peek(q, 0);
  if (run == nullptr) {
    // A read past an unfinished recording's end was expected. Past a whole
    // one, a command's read went on with the simulated clock, not the rig's;
    // the host's own (an analysis script's plot) is no part of the session.
    if (!unfinished && out_.read_by_commands(caller))
      ++clock_beyond;
    else if (!unfinished && host_clock_beyond++ == 0)
      out_.trace("replay note: the host reads the clock past the recording, outside the "
                 "commands (the simulated clock answers)");
    return std::nullopt; // the virtual clock goes on from the last value
  }
  const Record c = *run;
  if (q.used + 1 < c.repeats)
    ++q.used;
  else
    pop(q);
  // The clock never goes back: a lenient replay that skipped calls may have
  // moved it past the value the host gets now.
  out_.clock_to(c.tick, true);
  return Clock::answer_times(buffer, static_cast<clock_t>(c.tick));
}

// A file of the DAPL directory that opens here but did not there (or the
// other way round) is named: on another machine, DAPSIM_DAPL_DIR lacks it.
void Replay::dapl_open(const char *opened, int result, int error) {
  active = true;
  Queue &q = dapl;
  const std::string name = dapsession::normalize_path(opened);
  const std::string number = std::to_string(q.next + 1);
  if (peek(q, 0) == nullptr) {
    if (after_the_end())
      return;
    difference("DAPL open " + number + ": the recording opened no more DAPL files (got " + name +
               ")");
    return;
  }
  pop(q);
  const Record &c = q.taken;
  ++played;
  const std::string expected(c.data.begin(), c.data.end());
  if (dapsession::normalize_path(expected.c_str()) != name)
    difference("DAPL open " + number + ": expected " + expected + " got " + name);
  else if (c.result >= 0 && result < 0)
    difference("DAPL open " + number + ": " + name +
               " opened on the recording, fails here (errno=" + std::to_string(error) + ": " +
               std::strerror(error) + ")");
  else if (c.result < 0 && result >= 0)
    difference("DAPL open " + number + ": " + name +
               " failed on the recording (errno=" + std::to_string(c.error) + "), opens here");
}

std::optional<int> Replay::loader_run(const char *command_line, int *error) {
  in_loader = true;
  active = true;
  Queue &q = loader;
  const std::string number = std::to_string(q.next + 1);
  if (peek(q, 0) == nullptr) {
    if (after_the_end()) {
      *error = EIO;
      return -1;
    }
    difference("loader run " + number + ": the recording ran the loader no more (got " +
               text::quoted(command_line) + ")");
    return std::nullopt;
  }
  pop(q);
  const Record &c = q.taken;
  ++played;
  const std::string differs = where_differs(
      kTextNode, c.data,
      std::vector<std::uint8_t>(command_line, command_line + std::strlen(command_line)));
  if (!differs.empty())
    difference("loader run " + number + " " + differs);
  *error = c.error;
  return static_cast<int>(c.result);
}

} // namespace dapsim
