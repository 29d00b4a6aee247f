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

std::string Simulator::replay_status() const {
  if (!replay_)
    return "off";
  const Replay &r = *replay_;
  std::string out = r.path + (r.strict ? " strict" : " lenient");
  for (int node = 0; node < 2; ++node)
    out += std::string(", ") + node_name(node) + " " + std::to_string(r.channel[node].next) + "/" +
           std::to_string(r.channel[node].total);
  out += ", differences " + std::to_string(r.differences);
  if (r.stopped)
    out += ", stopped";
  return out;
}

void Simulator::replay_end(bool always) {
  if (!replay_)
    return;
  Replay &r = *replay_;
  if (r.active || always) {
    std::uint64_t left = 0;
    for (const Replay::Queue *q : {&r.channel[0], &r.channel[1], &r.dapl, &r.loader})
      left += q->calls - q->passed - q->used;
    const bool past = r.ended[0] || r.ended[1];
    const bool exact = r.differences == 0 && left == 0 && !past && r.unmatched.empty();
    std::string line = "dapsim: replay of " + r.path + ": " + (exact ? "exact" : "NOT exact") +
                       ": " + std::to_string(r.played) + " of " + std::to_string(r.recorded) +
                       " recorded calls played, " + std::to_string(r.differences) +
                       (r.differences == 1 ? " difference" : " differences");
    if (!r.first_difference.empty())
      line += ", the first: " + r.first_difference;
    if (past)
      line += "; the script went past the end of the recording";
    if (left > 0)
      line += "; " + std::to_string(left) + " recorded calls left unplayed";
    if (!r.unmatched.empty())
      line += "; a call with no recorded counterpart: " + r.unmatched;
    if (r.stopped)
      line += "; stopped at the first difference (strict)";
    if (r.stopped_error != 0)
      line += std::string("; the recording stopped: ") + std::strerror(r.stopped_error);
    else if (r.limit_reached)
      line += "; the recording stopped at its size limit";
    line += "\n";
    real::write_all(2, line.data(), line.size());
    if (const char *verdict = std::getenv("DAPSIM_REPLAY_VERDICT");
        verdict != nullptr && *verdict != '\0') {
      const int fd = real::open()(verdict, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fd >= 0) {
        const std::string word = exact ? "exact\n" : "differs\n";
        real::write_all(fd, word.data(), word.size());
        real::close()(fd);
      }
    }
  }
  replay_.reset();
}

// At exit another thread may be inside the simulator: wait a little, never
// forever. A replay the host never used says nothing (the processes a test
// host starts inherit DAPSIM_REPLAY), unless someone waits for the verdict.
void Simulator::replay_end_at_exit() {
  const char *verdict = std::getenv("DAPSIM_REPLAY_VERDICT");
  const bool always = verdict != nullptr && *verdict != '\0';
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (mutex_.try_lock()) {
      replay_end(always);
      mutex_.unlock();
      return;
    }
    const struct timespec step = {0, 1000000};
    real::nanosleep()(&step, nullptr);
  }
}

void Simulator::replay_unmatched(const std::string &call) {
  Replay &r = *replay_;
  if (r.unmatched.empty())
    r.unmatched = call;
}

void Simulator::replay_difference(const std::string &what) {
  Replay &r = *replay_;
  ++r.differences;
  if (r.first_difference.empty())
    r.first_difference = what;
  if (r.differences <= kDifferencesShown)
    trace("replay differs at " + what);
  else if (r.differences == kDifferencesShown + 1)
    trace("replay differs: more differences are not shown");
  if (r.strict && !r.stopped) {
    r.stopped = true;
    trace("replay stopped: device calls fail with EIO");
  }
}

// The next recorded call of the channel, if it is the one the host makes.
// Otherwise the difference is reported; a lenient replay then skips a few
// recorded calls to find it, or serves the host's call from nothing.
const Record *Simulator::replay_expect(int node, Kind kind, unsigned long request,
                                       const std::string &operation) {
  Replay &r = *replay_;
  Replay::Queue &q = r.channel[node];
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
    replay_pop(q);
    return &q.taken;
  };
  const Record *expected = replay_peek(q, 0);
  if (expected == nullptr) {
    if (!r.ended[node]) {
      r.ended[node] = true;
      replay_difference(std::string(node_name(node)) + " " + operation +
                        ": the recording has no more calls on " + node_name(node));
    }
    return nullptr;
  }
  if (matches(*expected))
    return take();
  std::string shown = dapsession::kind_name(expected->kind);
  if (expected->kind == Kind::ioctl)
    shown += " " + std::to_string(expected->asked);
  replay_difference(std::string(node_name(node)) + " " + operation + ": expected " + shown);
  if (r.stopped)
    return nullptr;
  for (std::size_t k = 1; k <= kLookAhead; ++k) {
    const Record *later = replay_peek(q, k);
    if (later == nullptr)
      break;
    if (matches(*later)) {
      while (k-- > 0)
        replay_pop(q);
      return take();
    }
  }
  return nullptr;
}

void Simulator::replay_clock_to(const Record &record) {
  if (record.tick >= 0)
    clock_.catch_up(record.tick, false);
}

int Simulator::replay_open(int node) {
  Replay &r = *replay_;
  if (r.stopped)
    return EIO;
  ++r.operations[node];
  const Record *c = replay_expect(node, Kind::open, 0, "open");
  if (r.stopped)
    return EIO;
  if (c == nullptr) {
    replay_unmatched(std::string("open ") + node_name(node));
    return 0;
  }
  replay_clock_to(*c);
  if (c->result == 0)
    return -1; // descriptor 0, as the rig's driver handed it out
  return c->result < 0 ? (c->error != 0 ? c->error : EIO) : 0;
}

ssize_t Simulator::replay_read(int node, void *buffer, size_t count) {
  Replay &r = *replay_;
  const std::string call = std::string("read ") + node_name(node) + " " + std::to_string(count);
  auto fail = [&](int error) -> ssize_t { return failed_operation(call, error); };
  if (r.stopped)
    return fail(EIO);
  const std::uint64_t number = ++r.operations[node];
  const Record *c = replay_expect(node, Kind::read, 0, "read " + std::to_string(number));
  if (r.stopped)
    return fail(EIO);
  std::size_t n = 0;
  if (c == nullptr)
    replay_unmatched(call);
  if (c != nullptr) {
    replay_clock_to(*c);
    if (c->result < 0)
      return fail(c->error != 0 ? c->error : EIO);
    n = std::min(count, c->data.size());
    if (n < c->data.size())
      replay_difference(std::string(node_name(node)) + " read " + std::to_string(number) +
                        ": asked " + std::to_string(count) + ", the recording read " +
                        std::to_string(c->data.size()));
    if (r.stopped)
      return fail(EIO);
    if (n > 0)
      std::memcpy(buffer, c->data.data(), n);
  }
  trace(call + " -> " + std::to_string(n));
  count_operation();
  return static_cast<ssize_t>(n);
}

ssize_t Simulator::replay_write(int node, const std::uint8_t *bytes, size_t count) {
  Replay &r = *replay_;
  const std::string shown =
      node == kTextNode ? text::quoted(bytes, count) : text::hex(bytes, count, false);
  const std::string call =
      std::string("write ") + node_name(node) + " " + std::to_string(count) + " " + shown;
  auto fail = [&](int error) -> ssize_t { return failed_operation(call, error); };
  if (r.stopped)
    return fail(EIO);
  ++r.operations[node];
  const std::uint64_t number = ++r.writes[node];
  const std::string label = std::string(node_name(node)) + " write " + std::to_string(number);
  const Record *c = replay_expect(node, Kind::write, 0, "write " + std::to_string(number));
  if (r.stopped)
    return fail(EIO);
  std::size_t accepted = count;
  if (c == nullptr)
    replay_unmatched(call);
  if (c != nullptr) {
    replay_clock_to(*c);
    const std::string differs =
        first_difference(node, c->data, std::vector<std::uint8_t>(bytes, bytes + count));
    if (!differs.empty()) {
      replay_difference(label + " " + differs);
      if (r.stopped)
        return fail(EIO);
    }
    if (c->result < 0)
      return fail(c->error != 0 ? c->error : EIO);
    accepted = std::min(count, static_cast<std::size_t>(c->result));
  }
  devices_.accepted(node, bytes, accepted);
  trace(call + " -> " + std::to_string(accepted));
  count_operation();
  return static_cast<ssize_t>(accepted);
}

int Simulator::replay_ioctl(int node, unsigned long request, void *argument) {
  Replay &r = *replay_;
  const std::string call = std::string("ioctl ") + node_name(node) + " " + std::to_string(request);
  auto fail = [&](int error) { return failed_operation(call, error); };
  if (r.stopped)
    return fail(EIO);
  const std::uint64_t number = ++r.operations[node];
  const std::string label = "ioctl " + std::to_string(request) + " (call " +
                            std::to_string(number) + " on " + node_name(node) + ")";
  const Record *c = replay_expect(node, Kind::ioctl, request, label);
  if (r.stopped)
    return fail(EIO);
  // A request the driver refused there is refused here before its argument,
  // which may be no pointer at all, is looked at.
  if (c != nullptr && c->result < 0) {
    replay_clock_to(*c);
    return fail(c->error != 0 ? c->error : EIO);
  }
  if (argument == nullptr)
    return fail(EFAULT);
  std::int32_t value;
  std::memcpy(&value, argument, sizeof value);
  int rc = 0;
  if (c == nullptr) {
    replay_unmatched(call);
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
    replay_clock_to(*c);
    if (c->result < 0)
      return fail(c->error != 0 ? c->error : EIO);
    rc = static_cast<int>(c->result);
    if (request == 14) {
      if (value != c->value)
        replay_difference(std::string(node_name(node)) + " " + label + ": value " +
                          std::to_string(value) + ", recorded " + std::to_string(c->value));
      if (r.stopped)
        return fail(EIO);
    } else {
      value = c->value;
    }
  }
  if (request != 14)
    std::memcpy(argument, &value, sizeof value);
  trace(call + " -> " + std::to_string(rc) + " value=" + std::to_string(value));
  count_operation();
  return rc;
}

bool Simulator::replay_close(int node, bool closed) {
  if (!replay_)
    return true;
  Replay &r = *replay_;
  if (r.stopped)
    return false;
  ++r.operations[node];
  const Record *c =
      replay_expect(node, closed ? Kind::close : Kind::release, 0, closed ? "close" : "release");
  if (c != nullptr)
    replay_clock_to(*c);
  else
    replay_unmatched(std::string(closed ? "close " : "release ") + node_name(node));
  return !r.stopped;
}

std::optional<clock_t> Simulator::replay_times(struct tms *buffer) {
  if (!replay_)
    return std::nullopt;
  Replay::Queue &q = replay_->clock;
  const Record *run = replay_peek(q, 0);
  if (run == nullptr)
    return std::nullopt; // the virtual clock goes on from the last value
  const Record c = *run;
  if (q.used + 1 < c.repeats)
    ++q.used;
  else
    replay_pop(q);
  // The clock never goes back: a lenient replay that skipped calls may have
  // moved it past the value the host gets now.
  clock_.catch_up(c.tick, true);
  return Clock::answer_times(buffer, static_cast<clock_t>(c.tick));
}

// A file of the DAPL directory that opens here but did not there (or the
// other way round) is named: on another machine, DAPSIM_DAPL_DIR lacks it.
void Simulator::replay_dapl_open(const char *path, int result, int error) {
  if (!replay_)
    return;
  replay_->active = true;
  Replay::Queue &q = replay_->dapl;
  const std::string name = dapsession::normalize_path(path);
  const std::string number = std::to_string(q.next + 1);
  if (replay_peek(q, 0) == nullptr) {
    replay_difference("DAPL open " + number + ": the recording opened no more DAPL files (got " +
                      name + ")");
    return;
  }
  replay_pop(q);
  const Record &c = q.taken;
  ++replay_->played;
  const std::string expected(c.data.begin(), c.data.end());
  if (dapsession::normalize_path(expected.c_str()) != name)
    replay_difference("DAPL open " + number + ": expected " + expected + " got " + name);
  else if (c.result >= 0 && result < 0)
    replay_difference("DAPL open " + number + ": " + name +
                      " opened on the recording, fails here (errno=" + std::to_string(error) +
                      ": " + std::strerror(error) + ")");
  else if (c.result < 0 && result >= 0)
    replay_difference("DAPL open " + number + ": " + name + " failed on the recording (errno=" +
                      std::to_string(c.error) + "), opens here");
}

std::optional<int> Simulator::replay_loader(const char *command_line, int *error) {
  replay_->active = true;
  Replay::Queue &q = replay_->loader;
  const std::string number = std::to_string(q.next + 1);
  if (replay_peek(q, 0) == nullptr) {
    replay_difference("loader run " + number + ": the recording ran the loader no more (got " +
                      text::quoted(command_line) + ")");
    return std::nullopt;
  }
  replay_pop(q);
  const Record &c = q.taken;
  ++replay_->played;
  const std::string differs = first_difference(
      kTextNode, c.data,
      std::vector<std::uint8_t>(command_line, command_line + std::strlen(command_line)));
  if (!differs.empty())
    replay_difference("loader run " + number + " " + differs);
  *error = c.error;
  return static_cast<int>(c.result);
}

void Simulator::replay_dapl(const char *path, int result, int error) {
  locked([&] {
    replay_dapl_open(path, result, error);
    return 0;
  });
}

} // namespace dapsim
