#include "simulator.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "rig_files.h"
#include "text.h"

#ifndef DAPSIM_DEFAULT_DAPL_DIR
#define DAPSIM_DEFAULT_DAPL_DIR "dapl"
#endif

namespace dapsim {

const std::string &dapl_folder() {
  // Never destroyed: made at the first DAPL open, it would otherwise go before
  // exit handlers the host registered earlier, which may still open files.
  static const std::string *folder = [] {
    const char *env = std::getenv("DAPSIM_DAPL_DIR");
    auto *f = new std::string(env != nullptr && *env != '\0' ? env : DAPSIM_DEFAULT_DAPL_DIR);
    while (f->size() > 1 && f->back() == '/')
      f->pop_back();
    return f;
  }();
  return *folder;
}

namespace {

std::uint32_t seed_from_environment() {
  const char *env = std::getenv("DAPSIM_SEED");
  if (env == nullptr)
    return 1;
  const auto value = text::parse_integer(env);
  return value ? static_cast<std::uint32_t>(*value) : 1;
}

bool real_clock_from_environment() {
  const char *env = std::getenv("DAPSIM_CLOCK");
  return env != nullptr && text::iequals(env, "real");
}

// True while this thread holds the model's lock (set just before taking it,
// so that a handler that runs while we wait defers too).
__attribute__((tls_model("initial-exec"))) thread_local bool t_holds_lock = false;

} // namespace

bool &Simulator::holds_lock() { return t_holds_lock; }

Simulator &Simulator::get() {
  // Never destroyed: the host may still call into us from its own exit
  // handlers, after static destructors have run.
  static Simulator *instance = new Simulator();
  return *instance;
}

Simulator::Simulator() {
  real::InsideSimulator inside;
  default_seed_ = seed_from_environment();
  default_real_clock_ = real_clock_from_environment();
  if (const char *replay = std::getenv("DAPSIM_REPLAY"); replay != nullptr && *replay != '\0') {
    default_replay_ = replay;
    const char *mode = std::getenv("DAPSIM_REPLAY_MODE");
    default_replay_strict_ = mode != nullptr && text::iequals(mode, "strict");
  }
  loader_folder();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    power_on();
  }
  // Opened after the power-on: the file belongs to the scenario, not to this
  // process, and a process that starts must not wipe what an earlier one
  // wrote. Only an explicit reset or "trace clear" empties it.
  if (const char *path = std::getenv("DAPSIM_TRACE"); path != nullptr && *path != '\0') {
    const int fd = real::open()(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      std::atexit([] { Simulator::get().flush_trace_file(); });
      // With what the power-on traced (a replay that DAPSIM_REPLAY started).
      std::lock_guard<std::mutex> lock(mutex_);
      trace_.attach_file(fd);
    }
  }
}

void Simulator::power_on() {
  // The tasks stop first: what they say as they stop goes with the buffers.
  board_.power_on(default_seed_);
  devices_.power_on();
  rig_files().power_on();
  host_.power_on();
  loader_ = LoaderScenario{};
  scheduled_.clear();
  rules_.clear();
  clock_.power_on(default_real_clock_);
  operations_ = 0;
  replay_end(false);
  trace_.clear();
  const bool refusal_said = !replay_refused_.empty();
  replay_refused_.clear();
  if (!default_replay_.empty()) {
    std::string reply;
    if (!replay_start(default_replay_, default_replay_strict_, &reply)) {
      if (!refusal_said) {
        const std::string message =
            "dapsim: DAPSIM_REPLAY: " + reply + "; the device nodes will not open\n";
        real::write_all(2, message.data(), message.size());
      }
      replay_refused_ = reply;
    }
  }
}

// ----------------------------------------------------------------- scenario

void Simulator::count_operation() {
  ++operations_;
  host_.after_operation(
      operations_, [&](Delivery delivery) { schedule_sigint(delivery); },
      [&] { schedule_child(); });
}

int Simulator::failed_operation(const std::string &what, int error) {
  trace(what + " -> -1 errno=" + std::to_string(error));
  count_operation();
  errno = error;
  return -1;
}

void Simulator::schedule_child() {
  trace("child");
  host_.child_due();
}

void Simulator::schedule_sigint(Delivery delivery) {
  trace(delivery == Delivery::host ? "sigint host"
                                   : (delivery == Delivery::within ? "sigint within" : "sigint"));
  // An ignored interrupt never reaches the host, and cuts no sleep short.
  if (host::ignores_sigint())
    return;
  if (delivery == Delivery::within) {
    // Here, with the model locked: where a real Ctrl-C may land. A thread
    // that blocks SIGINT keeps it pending, as the host would.
    pthread_kill(pthread_self(), SIGINT);
    return;
  }
  host_.sigint_due(delivery);
}

void Simulator::perform(const Action &action) {
  if (action.sigint)
    schedule_sigint(action.delivery);
  else
    to_host(action.node, action.bytes.data(), action.bytes.size());
}

Tick Simulator::next_event() const {
  Tick next = host_.next_tick();
  if (!scheduled_.empty())
    next = std::min(next, scheduled_.begin()->first);
  return next;
}

void Simulator::on_tick(Tick tick) {
  while (!scheduled_.empty() && scheduled_.begin()->first <= tick) {
    const Action action = std::move(scheduled_.begin()->second);
    scheduled_.erase(scheduled_.begin());
    perform(action);
  }
  board_.tick(tick);
  host_.at_tick(
      tick, [&](Delivery delivery) { schedule_sigint(delivery); }, [&] { schedule_child(); });
}

void Simulator::to_host(int node, const std::uint8_t *bytes, std::size_t count) {
  if (const std::size_t lost = devices_.push(node, bytes, count); lost > 0)
    trace(std::string("lost ") + node_name(node) + " " + std::to_string(lost));
}

void Simulator::line_arrived(const std::string &line) {
  for (const auto &rule : rules_) {
    if (!text::iequals(rule.line, line))
      continue;
    if (rule.after <= 0)
      perform(rule.action);
    else
      scheduled_.emplace(now() + rule.after, rule.action);
  }
}

// -------------------------------------------------------------------- clock

clock_t Simulator::times(struct tms *buffer, const void *caller) {
  return locked([&]() -> clock_t {
    if (replay_)
      if (const auto replayed = replay_->times(buffer, caller))
        return *replayed;
    if (clock_.real()) {
      const clock_t value = real::times()(buffer);
      sync_real_clock();
      return value;
    }
    if (clock_.read_ends_tick())
      advance_to((now() + 1) * Clock::kMicrosecondsPerTick);
    return Clock::answer_times(buffer, static_cast<clock_t>(now()));
  });
}

std::int64_t Simulator::sleep(std::int64_t microseconds, const char *label, long long shown) {
  if (microseconds < 0)
    microseconds = 0;
  bool real_sleep = false;
  std::int64_t left = 0;
  locked([&] {
    trace(std::string(label) + " " + std::to_string(shown));
    real_sleep = clock_.real();
    if (!real_sleep) {
      const std::int64_t target = clock_.now_us() + microseconds;
      if (!advance_to(target))
        left = target - clock_.now_us();
    }
    return 0;
  });
  if (!real_sleep)
    return left;
  const struct timespec span = {static_cast<time_t>(microseconds / 1000000),
                                static_cast<long>(microseconds % 1000000) * 1000};
  // A signal cuts a real sleep short as it would without us.
  struct timespec rest = {0, 0};
  const int saved_errno = errno;
  if (real::nanosleep()(&span, &rest) != 0 && errno == EINTR)
    left = std::max<std::int64_t>(1, static_cast<std::int64_t>(rest.tv_sec) * 1000000 +
                                         rest.tv_nsec / 1000);
  errno = saved_errno;
  locked([&] {
    sync_real_clock();
    return 0;
  });
  return left;
}

// ------------------------------------------------------------------- replay

bool Simulator::replay_start(const std::string &path, bool strict, std::string *reply) {
  auto replay = Replay::start(path, strict, *this, reply);
  if (!replay)
    return false;
  replay_end(false);
  replay_refused_.clear();
  replay_ = std::move(replay);
  static bool at_exit = false;
  if (!at_exit) {
    at_exit = true;
    std::atexit([] { Simulator::get().replay_end_at_exit(); });
  }
  replay_->announce();
  return true;
}

void Simulator::replay_end(bool always) {
  if (!replay_)
    return;
  replay_->verdict(always);
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

void Simulator::replay_dapl(const char *path, int result, int error) {
  locked([&] {
    if (replay_)
      replay_->dapl_open(path, result, error);
    return 0;
  });
}

// ------------------------------------------------------------------ control

void Simulator::flush_trace_file() {
  // At exit another thread may still be inside the simulator, or this very
  // thread may have been interrupted inside it: wait a little, never forever.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (mutex_.try_lock()) {
      trace_.flush_file();
      mutex_.unlock();
      return;
    }
    const struct timespec step = {0, 1000000};
    real::nanosleep()(&step, nullptr);
  }
}

void Simulator::run_script(const char *path) {
  std::ifstream in;
  {
    real::InsideSimulator inside;
    in.open(path);
  }
  if (!in) {
    const std::string message = std::string("dapsim: cannot read DAPSIM_SCRIPT '") + path + "'\n";
    real::write_all(2, message.data(), message.size());
    return;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string command_line = text::trim(line);
    if (command_line.empty() || command_line[0] == '#')
      continue;
    std::string reply;
    if (!command(command_line, &reply)) {
      const std::string message =
          std::string("dapsim: ") + path + ":" + std::to_string(number) + ": " + reply + "\n";
      real::write_all(2, message.data(), message.size());
    }
  }
}

bool Simulator::command(const std::string &line, std::string *reply) {
  return locked([&] { return control(line, reply); });
}

} // namespace dapsim
