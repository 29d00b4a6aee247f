#include "simulator.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>

#include "real.h"
#include "text.h"

#ifndef DAPSIM_DEFAULT_DAPL_DIR
#define DAPSIM_DEFAULT_DAPL_DIR "dapl"
#endif

namespace dapsim {

std::atomic<std::int8_t> g_fd_node[kFdSlots];
std::atomic<std::uint64_t> g_sigint_activity{0};

const char *node_name(int node) { return node == kTextNode ? "accel0" : "accel1"; }

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

const std::string &loader_folder() {
  // Found at load time, before the host may change directory: the stand-in
  // is built and installed next to this library.
  static const std::string *folder = [] {
    static const char anchor = 0;
    std::string path = ".";
    Dl_info info{};
    if (dladdr(&anchor, &info) != 0 && info.dli_fname != nullptr) {
      real::InsideSimulator inside;
      char *resolved = realpath(info.dli_fname, nullptr);
      path = resolved != nullptr ? resolved : info.dli_fname;
      std::free(resolved);
    }
    const auto slash = path.rfind('/');
    return new std::string(slash == std::string::npos ? "." : path.substr(0, slash));
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

std::string errno_suffix(int error) { return " errno=" + std::to_string(error); }

} // namespace

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
    trace_fd_ = real::open()(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (trace_fd_ >= 0) {
      trace_end_ = lseek(trace_fd_, 0, SEEK_END);
      if (trace_end_ < 0)
        trace_end_ = 0;
      trace_last_start_ = trace_end_;
      std::atexit([] { Simulator::get().flush_trace_file(); });
      // What the power-on traced (a replay that DAPSIM_REPLAY started).
      std::lock_guard<std::mutex> lock(mutex_);
      for (const Event &e : events_)
        for (std::uint64_t k = 0; k < e.count; ++k)
          trace_file_add(e.tick, e.text);
    }
  }
}

namespace {

// True while this thread holds the model's lock (set just before taking it,
// so that a handler that runs while we wait defers too).
__attribute__((tls_model("initial-exec"))) thread_local bool t_holds_lock = false;

// Devices let go of by a handler that interrupted a device call on the same
// thread. Written from the signal handler, so plain atomics, no allocation.
constexpr int kDeferredSlots = 16;
std::atomic<int> g_deferred_count{0};
std::atomic<int> g_deferred_fd[kDeferredSlots];
std::atomic<int> g_deferred_node[kDeferredSlots];
std::atomic<bool> g_deferred_closed[kDeferredSlots];

} // namespace

template <typename F> auto Simulator::locked(F &&work) {
  using Result = decltype(work());
  std::optional<Delivery> raise_now;
  int children = 0;
  Result result{};
  // The work sets errno only when it fails; a call that succeeds leaves the
  // caller's errno as it was, as the C library does.
  const int entry_errno = errno;
  int saved_errno = 0;
  const bool outermost = !t_holds_lock;
  t_holds_lock = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    real::InsideSimulator inside;
    settle_deferred();
    errno = entry_errno;
    result = work();
    saved_errno = errno;
    if (replay_)
      replay_interrupts_due();
    settle_deferred();
    raise_now = std::exchange(sigint_due_, std::nullopt);
    children = std::exchange(children_due_, 0);
  }
  if (outermost)
    t_holds_lock = false;
  if (raise_now)
    raise_sigint(*raise_now);
  for (; children > 0; --children)
    end_a_child();
  errno = saved_errno;
  return result;
}

// A call on a number the host took for a device: `work(node)` runs with the
// model locked and the clock brought up to date. Nothing comes back when the
// number stopped being a device before we got the lock: the call is libc's.
template <typename Work> auto Simulator::on_device(int fd, Work &&work) {
  using Result = decltype(work(0));
  return locked([&]() -> std::optional<Result> {
    const int node = device_node(fd);
    if (node < 0)
      return std::nullopt;
    sync_real_clock();
    return work(node);
  });
}

namespace {

volatile sig_atomic_t *octave_flag(const char *name) {
  return static_cast<volatile sig_atomic_t *>(dlsym(RTLD_DEFAULT, name));
}

bool signal_pending(int signal_number) {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, signal_number) == 1;
}

// Hosts that take SIGINT on a thread of their own only raise a flag of
// theirs. Octave raises two, but the second one (octave_signal_caught) rises
// for any signal it takes, a child's end among them: only the first says
// that this Ctrl-C has been taken, and only once it is no longer pending (it
// may still be up from an earlier one). A host that follows MATLAB's rules
// answers utIsInterruptPending(). All are looked up at run time; a host
// without them has none.
bool host_took_interrupt() {
  static volatile sig_atomic_t *const state = octave_flag("octave_interrupt_state");
  using PendingFn = bool (*)();
  static const auto pending_query =
      reinterpret_cast<PendingFn>(dlsym(RTLD_DEFAULT, "utIsInterruptPending"));
  if (state != nullptr && *state > 0 && !signal_pending(SIGINT))
    return true;
  return pending_query != nullptr && pending_query();
}

// The end of a child of the host has reached the host: the signal is no
// longer pending (its handler took it, a thread of the host took it with
// sigwait, or nobody wanted it and the kernel let it go) and, on Octave,
// its signal thread has raised its flag. At most about a second, so that a
// host that never looks cannot hang us.
void await_child_end_seen() {
  static volatile sig_atomic_t *const caught = octave_flag("octave_signal_caught");
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  const struct timespec step = {0, 1000000};
  while (Clock::now() < deadline) {
    if (!signal_pending(SIGCHLD) && (caught == nullptr || *caught != 0))
      break;
    real::nanosleep()(&step, nullptr);
  }
  // A handler that another thread runs may still be at work.
  struct sigaction current {};
  real::sigaction()(SIGCHLD, nullptr, &current);
  if ((current.sa_flags & SA_SIGINFO) ||
      (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN)) {
    const struct timespec settle = {0, 5000000};
    real::nanosleep()(&settle, nullptr);
  }
}

pid_t start_child_that_exits() {
  const pid_t pid = fork();
  if (pid == 0)
    _exit(0);
  return pid;
}

} // namespace

// A child of the host ends in the middle of a call, as when a host's own
// helper process finishes: the host sees a SIGCHLD that is no Ctrl-C. We
// return once the host has taken it, and reap the child ourselves (the host
// may have reaped it already). Called without the lock.
void Simulator::end_a_child() {
  const pid_t pid = start_child_that_exits();
  if (pid < 0)
    return;
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  await_child_end_seen();
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// An interrupt reaches the host in one of two ways.
//
// handler: so that the handler installed with signal() runs. When the calling
// thread accepts SIGINT, a process-directed kill() runs it right here, inside
// the call. A host that blocks SIGINT on this thread (Octave does, and
// collects SIGINT on a thread of its own with sigwait, where a plug-in's
// handler would never run) gets it on a helper thread of ours that accepts
// it, so the handler runs there while this call waits.
//
// host: a process-directed kill() and nothing more, as a Ctrl-C at the
// terminal; on Octave its own thread takes it and raises its flag.
//
// Either way we return only once the interrupt has visibly landed (a handler
// acted, or the host's flag rose), at most about a second later, so that what
// the host does next is the same from run to run. Called without the lock:
// the handler calls back into us.
void Simulator::raise_sigint(Delivery delivery) {
  struct sigaction current {};
  real::sigaction()(SIGINT, nullptr, &current);
  if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
    return;
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  if (delivery == Delivery::handler && sigismember(&mask, SIGINT)) {
    std::thread helper([] {
      sigset_t interrupt;
      sigemptyset(&interrupt);
      sigaddset(&interrupt, SIGINT);
      pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
      // A signal a thread sends itself is handled before pthread_kill returns.
      pthread_kill(pthread_self(), SIGINT);
    });
    helper.join();
    return;
  }
  const std::uint64_t before = g_sigint_activity.load();
  kill(getpid(), SIGINT);
  if (g_sigint_activity.load() != before)
    return; // handled synchronously, on this thread
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  const auto quiet_for = std::chrono::milliseconds(20);
  std::uint64_t seen = before;
  auto last_change = Clock::now();
  const struct timespec step = {0, 1000000};
  while (Clock::now() < deadline) {
    if (host_took_interrupt())
      return;
    const std::uint64_t activity = g_sigint_activity.load();
    if (activity != seen) {
      seen = activity;
      last_change = Clock::now();
    } else if (seen != before && Clock::now() - last_change >= quiet_for) {
      return; // another thread's handler acted and has gone quiet
    }
    real::nanosleep()(&step, nullptr);
  }
}

// ---------------------------------------------------------------- lifecycle

void Simulator::power_on() {
  if (zero_is_device_) {
    g_fd_node[0].store(0, std::memory_order_release);
    --open_count_;
    zero_is_device_ = false;
  }
  stop_all_tasks();
  board_reset();
  fifo_[0].clear();
  fifo_[1].clear();
  for (auto &f : faults_)
    f = NodeFaults{};
  freespace_.clear();
  freespace_next_ = 0;
  sigint_tick_.reset();
  sigint_op_.reset();
  sigint_due_.reset();
  child_tick_.reset();
  child_op_.reset();
  children_due_ = 0;
  loader_exit_ = 0;
  loader_missing_ = false;
  loader_interrupted_ = false;
  sigint_at_loader_ = false;
  scheduled_.clear();
  rules_.clear();
  real_clock_ = default_real_clock_;
  now_us_ = 0;
  reads_per_tick_ = 4;
  reads_in_tick_ = 0;
  real_origin_ = real::times()(nullptr);
  written_[0].clear();
  written_[1].clear();
  timeout_[0] = timeout_[1] = 0;
  operations_ = 0;
  played_.clear();
  partial_line_.clear();
  seed_ = default_seed_;
  random_.seed(seed_);
  replay_end(false);
  trace_clear();
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

void Simulator::board_reset() {
  stop_all_tasks();
  defining_.reset();
  definitions_.clear();
  variables_.clear();
  pipes_.clear();
  // What the board already sent sits in the driver's buffers on the host
  // side; a RESET of the board does not take it back (that is why the reset
  // sequence drains both channels afterwards).
  binary_input_.clear();
  random_.seed(seed_);
}

// -------------------------------------------------------------------- trace

std::string Simulator::event_line(const Event &e) const {
  std::string line = std::to_string(e.tick) + " " + e.text;
  if (e.count > 1)
    line += " x" + std::to_string(e.count);
  line += '\n';
  return line;
}

void Simulator::trace(std::string text) {
  struct KeepErrno {
    int value = errno;
    ~KeepErrno() { errno = value; }
  } keep;
  const Tick tick = now();
  trace_file_add(tick, text);
  if (!events_.empty() && events_.back().text == text) {
    ++events_.back().count;
    return;
  }
  if (events_.size() >= kTraceLimit) {
    // A runaway scenario must not eat the host's memory; the file keeps all.
    if (!trace_truncated_) {
      trace_truncated_ = true;
      events_.push_back({tick, "trace full: later events are in DAPSIM_TRACE only", 1});
    }
  } else {
    events_.push_back({tick, std::move(text), 1});
  }
}

namespace {

// How far behind the file may fall on a merged event's count. A polling loop
// repeats one event millions of times, and rewriting its line on every repeat
// cost seconds of system time.
constexpr auto kTraceFileLag = std::chrono::milliseconds(50);

} // namespace

// The file is written as the trace grows, so that it reads as the trace does
// even when the process dies in the middle of a run. A merged event's line is
// brought up to date with the next event, at exit, or once kTraceFileLag has
// passed since the file was last written.
void Simulator::trace_file_add(Tick tick, const std::string &text) {
  if (trace_fd_ < 0)
    return;
  if (trace_last_ && trace_last_->text == text) {
    ++trace_last_->count;
    trace_last_stale_ = true;
    if (std::chrono::steady_clock::now() - trace_last_written_ >= kTraceFileLag)
      trace_file_flush();
    return;
  }
  trace_file_flush(event_line({tick, text, 1}));
  trace_last_ = Event{tick, text, 1};
}

// Rewrites the last line if its count is behind, then appends `next_line`,
// in one write. A line only grows as its count does, so the rewrite never
// leaves a tail behind it.
void Simulator::trace_file_flush(const std::string &next_line) {
  if (trace_fd_ < 0 || (!trace_last_stale_ && next_line.empty()))
    return;
  off_t at = trace_end_;
  std::string out;
  if (trace_last_stale_) {
    at = trace_last_start_;
    out = event_line(*trace_last_);
  }
  const off_t next_start = at + static_cast<off_t>(out.size());
  out += next_line;
  [[maybe_unused]] const ssize_t written = pwrite(trace_fd_, out.data(), out.size(), at);
  trace_end_ = at + static_cast<off_t>(out.size());
  if (!next_line.empty())
    trace_last_start_ = next_start;
  trace_last_stale_ = false;
  trace_last_written_ = std::chrono::steady_clock::now();
}

void Simulator::flush_trace_file() {
  // At exit another thread may still be inside the simulator, or this very
  // thread may have been interrupted inside it: wait a little, never forever.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (mutex_.try_lock()) {
      trace_file_flush();
      mutex_.unlock();
      return;
    }
    const struct timespec step = {0, 1000000};
    real::nanosleep()(&step, nullptr);
  }
}

void Simulator::trace_clear() {
  events_.clear();
  trace_truncated_ = false;
  trace_last_.reset();
  trace_last_stale_ = false;
  if (trace_fd_ >= 0) {
    [[maybe_unused]] const int rc = ftruncate(trace_fd_, 0);
    trace_end_ = trace_last_start_ = 0;
  }
}

void Simulator::count_operation() {
  ++operations_;
  if (sigint_op_ && operations_ >= *sigint_op_) {
    sigint_op_.reset();
    schedule_sigint(sigint_op_delivery_);
  }
  if (child_op_ && operations_ >= *child_op_) {
    child_op_.reset();
    schedule_child();
  }
}

int Simulator::failed_operation(const std::string &what, int error) {
  trace(what + " -> -1" + errno_suffix(error));
  count_operation();
  errno = error;
  return -1;
}

void Simulator::schedule_child() {
  trace("child");
  ++children_due_;
}

void Simulator::schedule_sigint(Delivery delivery) {
  trace(delivery == Delivery::host ? "sigint host"
                                   : (delivery == Delivery::within ? "sigint within" : "sigint"));
  // An ignored interrupt never reaches the host, and cuts no sleep short.
  struct sigaction current {};
  real::sigaction()(SIGINT, nullptr, &current);
  if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
    return;
  // Two interrupts due in one call reach the host as one, like two quick
  // presses of Ctrl-C before the host looks.
  if (delivery == Delivery::within) {
    // Here, with the model locked: where a real Ctrl-C may land. A thread
    // that blocks SIGINT keeps it pending, as the host would.
    pthread_kill(pthread_self(), SIGINT);
    return;
  }
  if (!sigint_due_ || delivery == Delivery::handler)
    sigint_due_ = delivery;
}

// -------------------------------------------------------------------- clock

Tick Simulator::now() const { return now_us_ / kMicrosecondsPerTick; }

void Simulator::sync_real_clock() {
  if (!real_clock_)
    return;
  const clock_t elapsed = real::times()(nullptr) - real_origin_;
  advance_to(static_cast<std::int64_t>(elapsed) * kMicrosecondsPerTick);
}

Tick Simulator::next_event_tick() const {
  Tick next = INT64_MAX;
  if (!scheduled_.empty())
    next = std::min(next, scheduled_.begin()->first);
  if (sigint_tick_)
    next = std::min(next, *sigint_tick_);
  if (child_tick_)
    next = std::min(next, *child_tick_);
  return next;
}

bool Simulator::advance_to(std::int64_t target_us) {
  target_us = std::min(target_us, kClockLimitUs);
  while (true) {
    // An interrupt for the host's handler ends a sleep early, as a signal
    // does: the clock stops at the tick it came.
    if (sigint_due_ == Delivery::handler)
      return false;
    Tick next = now() + 1;
    // Without running tasks nothing happens between scheduled events, so a
    // long sleep need not visit every tick.
    if (tasks_.empty())
      next = std::max(next, std::min(next_event_tick(), target_us / kMicrosecondsPerTick));
    if (next * kMicrosecondsPerTick > target_us)
      break;
    now_us_ = next * kMicrosecondsPerTick;
    reads_in_tick_ = 0;
    on_new_tick(next);
  }
  if (target_us > now_us_)
    now_us_ = target_us;
  return true;
}

void Simulator::on_new_tick(Tick tick) {
  while (!scheduled_.empty() && scheduled_.begin()->first <= tick) {
    const Action action = std::move(scheduled_.begin()->second);
    scheduled_.erase(scheduled_.begin());
    perform(action);
  }
  for_each_task("on_tick", [&](Task &task) { task.on_tick(*this, tick); });
  if (sigint_tick_ && tick >= *sigint_tick_) {
    sigint_tick_.reset();
    schedule_sigint(sigint_tick_delivery_);
  }
  if (child_tick_ && tick >= *child_tick_) {
    child_tick_.reset();
    schedule_child();
  }
}

void Simulator::perform(const Action &action) {
  if (action.sigint)
    schedule_sigint(action.delivery);
  else
    push_fifo(action.node, action.bytes.data(), action.bytes.size());
}

clock_t Simulator::answer_times(struct tms *buffer, clock_t value) {
  if (buffer != nullptr) {
    buffer->tms_utime = value;
    buffer->tms_stime = 0;
    buffer->tms_cutime = 0;
    buffer->tms_cstime = 0;
  }
  return value;
}

clock_t Simulator::times(struct tms *buffer) {
  return locked([&]() -> clock_t {
    if (const auto replayed = replay_times(buffer))
      return *replayed;
    if (real_clock_) {
      const clock_t value = real::times()(buffer);
      sync_real_clock();
      return value;
    }
    if (++reads_in_tick_ >= reads_per_tick_)
      advance_to((now() + 1) * kMicrosecondsPerTick);
    return answer_times(buffer, static_cast<clock_t>(now()));
  });
}

std::int64_t Simulator::sleep(std::int64_t microseconds, const char *label, long long shown) {
  if (microseconds < 0)
    microseconds = 0;
  bool real_sleep = false;
  std::int64_t left = 0;
  locked([&] {
    trace(std::string(label) + " " + std::to_string(shown));
    real_sleep = real_clock_;
    if (!real_clock_) {
      const std::int64_t target = now_us_ + microseconds;
      if (!advance_to(target))
        left = target - now_us_;
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

namespace {

std::string shell_quoted(const std::string &word) {
  std::string out = "'";
  for (const char c : word) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

} // namespace

// The stand-in takes the loader's arguments, as the shell passes them, and
// runs through the C library's system() like the real loader would: a child
// of the host whose end reaches the host as on a rig. We return once the
// host has seen that end, so that what it does next does not depend on when
// its signal thread woke up. A replay gives the host the recorded status,
// whatever it was: the stand-in then exits with the recorded exit status (0
// when a signal ended the recorded run), and is not started at all when the
// recorded system() could not start the loader.
Simulator::LoaderRun Simulator::prepare_loader(const char *command_line) {
  LoaderRun run;
  run.command_line = command_line;
  int exit_status = 0;
  bool missing = false;
  bool interrupted = false;
  bool sigint_now = false;
  locked([&] {
    sigint_now = std::exchange(sigint_at_loader_, false);
    if (sigint_now)
      trace("sigint loader");
    exit_status = loader_exit_;
    missing = loader_missing_;
    interrupted = loader_interrupted_;
    if (replay_) {
      interrupted = false;
      replay_->in_loader = true;
      run.recorded = replay_loader(command_line, &run.recorded_errno);
      missing = false;
      if (run.recorded)
        exit_status = WIFEXITED(*run.recorded) ? WEXITSTATUS(*run.recorded) : 0;
    }
    return 0;
  });
  if (sigint_now)
    pthread_kill(pthread_self(), SIGINT);
  if (!run.recorded || *run.recorded != -1) {
    const std::string program =
        loader_folder() + (missing ? "/dapsim-loader-missing" : "/dapsim-loader");
    run.shell_line = std::string(kLoaderExitVariable) + "=" +
                     (interrupted ? "interrupted" : std::to_string(exit_status)) + " " +
                     shell_quoted(program) + (command_line + sizeof kLoaderCommand - 1);
  }
  return run;
}

// The run is over: the trace tells how it ended and the board counts as
// loaded only after a load that exited 0. A replay gives the recorded status.
int Simulator::finish_loader(const LoaderRun &run, int status, int error) {
  if (run.recorded) {
    status = *run.recorded;
    error = run.recorded_errno;
  }
  locked([&] {
    if (replay_)
      replay_->in_loader = false;
    std::string outcome;
    if (status == -1)
      outcome = "-1" + errno_suffix(error);
    else if (WIFEXITED(status))
      outcome = std::to_string(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
      outcome = "signal " + std::to_string(WTERMSIG(status));
    else
      outcome = std::to_string(status);
    trace("system " + text::quoted(run.command_line) + " -> " + outcome);
    // A load that failed leaves no program on the board.
    loaded_ = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return 0;
  });
  errno = error;
  return status;
}

int Simulator::run_loader(const char *command_line) {
  const LoaderRun run = prepare_loader(command_line);
  int status = -1;
  int error = run.recorded_errno;
  if (!run.shell_line.empty()) {
    status = real::system()(run.shell_line.c_str());
    error = errno;
    if (status != -1)
      await_child_end_seen();
  }
  return finish_loader(run, status, error);
}

// A host that starts the loader itself, with posix_spawn and waitpid, gets
// the stand-in as its child in the same way; the host holds SIGCHLD until it
// has waited, so its end reaches the host as the host's own wait returns.
int Simulator::spawn_loader(pid_t *pid, const char *command_line,
                            const posix_spawn_file_actions_t *actions,
                            const posix_spawnattr_t *attributes, char *const environment[]) {
  LoaderRun run = prepare_loader(command_line);
  if (run.shell_line.empty()) {
    finish_loader(run, -1, run.recorded_errno);
    return run.recorded_errno != 0 ? run.recorded_errno : EAGAIN;
  }
  char shell[] = "sh";
  char option[] = "-c";
  char *const arguments[] = {shell, option, run.shell_line.data(), nullptr};
  pid_t child = -1;
  const int error =
      real::posix_spawn()(&child, "/bin/sh", actions, attributes, arguments, environment);
  if (error != 0) {
    finish_loader(run, -1, error);
    return error;
  }
  if (pid != nullptr)
    *pid = child;
  locked([&] {
    spawned_loaders_[child] = std::move(run);
    loaders_spawned_.fetch_add(1);
    return 0;
  });
  return 0;
}

void Simulator::loader_waited(pid_t pid, int *status) {
  std::optional<LoaderRun> run;
  locked([&] {
    const auto it = spawned_loaders_.find(pid);
    if (it != spawned_loaders_.end()) {
      run = std::move(it->second);
      spawned_loaders_.erase(it);
      loaders_spawned_.fetch_sub(1);
    }
    return 0;
  });
  if (run) {
    const int saved = errno;
    *status = finish_loader(*run, *status, 0);
    errno = saved;
  }
}

void Simulator::replay_dapl(const char *path, int result, int error) {
  locked([&] {
    replay_dapl_open(path, result, error);
    return 0;
  });
}

// ------------------------------------------------------------------- device

// The wait comes before the operation, which then serves what the board has
// done meanwhile. On the virtual clock the ticks pass as a sleep's would:
// tasks run, scheduled data and interrupts come at their ticks, and an
// interrupt for a handler ends the wait there.
void Simulator::take_time(int node) {
  if (node < 0)
    return;
  std::int64_t real_us = 0;
  locked([&] {
    NodeFaults &f = faults_[node];
    if (!f.slow)
      return 0;
    const std::int64_t span = *f.slow * kMicrosecondsPerTick;
    if (f.slow_left && --*f.slow_left == 0) {
      f.slow.reset();
      f.slow_left.reset();
    }
    if (real_clock_)
      real_us = span;
    else
      advance_to(now_us_ + span);
    return 0;
  });
  if (real_us == 0)
    return;
  const int saved_errno = errno;
  const struct timespec span = {static_cast<time_t>(real_us / 1000000),
                                static_cast<long>(real_us % 1000000) * 1000};
  real::nanosleep()(&span, nullptr);
  errno = saved_errno;
}

int Simulator::open_device(int node) {
  take_time(node);
  return locked([&]() -> int {
    sync_real_clock();
    const NodeFaults &f = faults_[node];
    const std::string name = node_name(node);
    int fd;
    if (!replay_refused_.empty())
      return failed_operation("open " + name, EIO);
    const auto replayed = replay_open(node);
    if (replayed && *replayed > 0) {
      return failed_operation("open " + name, *replayed);
    }
    if (!replayed && f.missing) {
      return failed_operation("open " + name, *f.missing);
    }
    if ((replayed && *replayed < 0) || (!replayed && f.openzero)) {
      if (!zero_is_device_) {
        zero_is_device_ = true;
        g_fd_node[0].store(static_cast<std::int8_t>(node + 1), std::memory_order_release);
        ++open_count_;
      }
      trace("open " + name + " fd=0");
      count_operation();
      return 0;
    }
    fd = real::open()("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd == 0) {
      // With standard input closed the number would be 0, which callers
      // rightly take as a failed open.
      const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
      real::close()(fd);
      fd = moved;
    }
    if (fd < 0 || fd >= kFdSlots) {
      const int error = fd < 0 ? errno : EMFILE;
      if (fd >= 0)
        real::close()(fd);
      return failed_operation("open " + name, error);
    }
    g_fd_node[fd].store(static_cast<std::int8_t>(node + 1), std::memory_order_release);
    ++open_count_;
    trace("open " + name + " fd=" + std::to_string(fd));
    count_operation();
    return fd;
  });
}

ssize_t Simulator::read_device(int fd, void *buffer, size_t count) {
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> ssize_t {
    if (buffer == nullptr && count > 0) {
      replay_bad_buffer(node, dapsession::Kind::read);
      errno = EFAULT;
      return -1;
    }
    if (const auto replayed = replay_read(node, buffer, count))
      return *replayed;
    NodeFaults &f = faults_[node];
    const std::string call = std::string("read ") + node_name(node) + " " + std::to_string(count);
    if (f.readfail)
      return failed_operation(call, *f.readfail);
    std::size_t n = std::min(count, fifo_[node].size());
    if (f.shortread && n > *f.shortread) {
      n = *f.shortread;
      // A counted fault wears off after the reads it cut short; reads it
      // had no need to cut (nothing more was there) do not use it up.
      if (f.shortread_left && --*f.shortread_left == 0) {
        f.shortread.reset();
        f.shortread_left.reset();
      }
    }
    auto *out = static_cast<std::uint8_t *>(buffer);
    std::copy_n(fifo_[node].begin(), n, out);
    fifo_[node].erase(fifo_[node].begin(), fifo_[node].begin() + static_cast<std::ptrdiff_t>(n));
    trace(call + " -> " + std::to_string(n));
    count_operation();
    return static_cast<ssize_t>(n);
  });
  return result ? *result : real::read()(fd, buffer, count);
}

ssize_t Simulator::write_device(int fd, const void *buffer, size_t count) {
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> ssize_t {
    if (buffer == nullptr && count > 0) {
      replay_bad_buffer(node, dapsession::Kind::write);
      errno = EFAULT;
      return -1;
    }
    const auto *bytes = static_cast<const std::uint8_t *>(buffer);
    if (const auto replayed = replay_write(node, bytes, count))
      return *replayed;
    NodeFaults &f = faults_[node];
    const std::string shown =
        node == kTextNode ? text::quoted(bytes, count) : text::hex(bytes, count, false);
    const std::string call =
        std::string("write ") + node_name(node) + " " + std::to_string(count) + " " + shown;
    if (f.writefail) {
      const int error = *f.writefail;
      if (f.writefail_left && --*f.writefail_left == 0) {
        f.writefail.reset();
        f.writefail_left.reset();
      }
      return failed_operation(call, error);
    }
    std::size_t n = count;
    if (f.shortwrite && n > *f.shortwrite) {
      n = *f.shortwrite;
      // As with reads: only the writes the fault cut use a count up.
      if (f.shortwrite_left && --*f.shortwrite_left == 0) {
        f.shortwrite.reset();
        f.shortwrite_left.reset();
      }
    }
    if (node == kBinaryNode)
      n = std::min(n, kBinaryInputSize - binary_input_.size());
    written_[node].insert(written_[node].end(), bytes, bytes + n);
    trace(call + " -> " + std::to_string(n));
    count_operation();
    if (node == kTextNode) {
      dapl_receive(bytes, n);
    } else if (n > 0) {
      binary_input_.insert(binary_input_.end(), bytes, bytes + n);
      const Tick tick = now();
      for_each_task("on_binary_input", [&](Task &task) { task.on_binary_input(*this, tick); });
    }
    return static_cast<ssize_t>(n);
  });
  return result ? *result : real::write()(fd, buffer, count);
}

int Simulator::ioctl_device(int fd, unsigned long request, void *argument) {
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> int {
    if (const auto replayed = replay_ioctl(node, request, argument))
      return *replayed;
    const std::string call =
        std::string("ioctl ") + node_name(node) + " " + std::to_string(request);
    auto fail = [&](int error) { return failed_operation(call, error); };
    const bool known = request == 1 || request == 2 || request == 14 || request == 15;
    if (!known)
      return fail(ENOTTY);
    std::optional<IoctlFault> fault;
    if (const auto f = faults_[node].ioctl.find(request); f != faults_[node].ioctl.end()) {
      fault = f->second;
      if (f->second.left && --*f->second.left == 0)
        faults_[node].ioctl.erase(f);
    }
    if (fault && fault->fail)
      return fail(fault->value);
    if (argument == nullptr)
      return fail(EFAULT);
    // The host's int may sit at any address; copy rather than dereference.
    std::int32_t value;
    std::memcpy(&value, argument, sizeof value);
    switch (request) {
    case 1:
      value = static_cast<std::int32_t>(fifo_[node].size());
      break;
    case 2:
      if (node == kBinaryNode && !freespace_.empty()) {
        value = freespace_[std::min(freespace_next_, freespace_.size() - 1)];
        if (freespace_next_ < freespace_.size())
          ++freespace_next_;
      } else if (node == kBinaryNode) {
        value = static_cast<std::int32_t>(kBinaryInputSize - binary_input_.size());
      } else {
        value = static_cast<std::int32_t>(kTextFifoSize);
      }
      break;
    case 14:
      timeout_[node] = value;
      break;
    case 15:
      value = 0x0100;
      break;
    }
    if (request != 14)
      std::memcpy(argument, &value, sizeof value);
    const std::int32_t shown = value;
    const int rc = fault ? fault->value : 0;
    trace(call + " -> " + std::to_string(rc) + " value=" + std::to_string(shown));
    count_operation();
    return rc;
  });
  return result ? *result : real::ioctl()(fd, request, argument);
}

int Simulator::close_device(int fd) {
  if (t_holds_lock) {
    // As in released(): from a handler that interrupted a device call.
    const bool phantom_zero = fd == 0 && zero_is_device_;
    defer_release(fd, true);
    g_sigint_activity.fetch_add(1);
    return phantom_zero ? 0 : real::close()(fd);
  }
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> int {
    g_fd_node[fd].store(0, std::memory_order_release);
    --open_count_;
    const bool replayed = replay_close(node, true);
    trace(std::string("close ") + node_name(node) + (replayed ? "" : " -> -1 errno=5"));
    count_operation();
    g_sigint_activity.fetch_add(1);
    if (fd == 0 && zero_is_device_) {
      zero_is_device_ = false;
      return 0;
    }
    const int rc = real::close()(fd);
    if (!replayed) {
      errno = EIO;
      return -1;
    }
    return rc;
  });
  return result ? *result : real::close()(fd);
}

void Simulator::defer_release(int fd, bool closed) {
  const int node = device_node(fd);
  if (node < 0)
    return;
  g_fd_node[fd].store(0, std::memory_order_release);
  const int slot = g_deferred_count.load();
  if (slot < kDeferredSlots) {
    g_deferred_fd[slot].store(fd);
    g_deferred_node[slot].store(node);
    g_deferred_closed[slot].store(closed);
    g_deferred_count.store(slot + 1);
  }
}

// Runs with the lock held, on the thread whose handler deferred.
void Simulator::settle_deferred() {
  int done = 0;
  for (;;) {
    int count = g_deferred_count.load();
    for (int i = done; i < count; ++i) {
      const int fd = g_deferred_fd[i].load();
      const int node = g_deferred_node[i].load();
      const bool closed = g_deferred_closed[i].load();
      if (fd == 0)
        zero_is_device_ = false;
      --open_count_;
      replay_close(node, closed);
      trace(std::string(closed ? "close " : "release ") + node_name(node) +
            (closed ? std::string() : " fd=" + std::to_string(fd)));
      count_operation();
    }
    done = count;
    // A handler on a thread still waiting for the lock may have added one.
    if (g_deferred_count.compare_exchange_strong(count, 0))
      return;
  }
}

void Simulator::released(int fd) {
  if (t_holds_lock) {
    // A handler interrupted this thread inside a device call: the model is
    // ours but mid-change, and taking the lock again would never return.
    defer_release(fd, false);
    g_sigint_activity.fetch_add(1);
    return;
  }
  locked([&] {
    const int node = device_node(fd);
    if (node < 0)
      return 0;
    if (fd == 0)
      zero_is_device_ = false;
    g_fd_node[fd].store(0, std::memory_order_release);
    --open_count_;
    sync_real_clock();
    replay_close(node, false);
    trace(std::string("release ") + node_name(node) + " fd=" + std::to_string(fd));
    count_operation();
    return 0;
  });
  g_sigint_activity.fetch_add(1);
}

void Simulator::reclaimed(int fd) {
  locked([&] {
    const int node = device_node(fd);
    if (node < 0)
      return 0;
    g_fd_node[fd].store(0, std::memory_order_release);
    --open_count_;
    trace(std::string("stale ") + node_name(node) + " fd=" + std::to_string(fd));
    return 0;
  });
}

void Simulator::push_fifo(int node, const std::uint8_t *bytes, std::size_t count) {
  const std::size_t capacity = node == kBinaryNode ? kBinaryFifoSize : kTextFifoSize;
  const std::size_t room = capacity - std::min(capacity, fifo_[node].size());
  const std::size_t taken = std::min(room, count);
  fifo_[node].insert(fifo_[node].end(), bytes, bytes + taken);
  if (taken < count)
    trace(std::string("lost ") + node_name(node) + " " + std::to_string(count - taken));
}

// -------------------------------------------------------------------- board

void Simulator::send_binary(const std::uint8_t *bytes, std::size_t count) {
  push_fifo(kBinaryNode, bytes, count);
}

void Simulator::send_text(const std::string &text) {
  push_fifo(kTextNode, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

std::size_t Simulator::binary_room() const { return kBinaryFifoSize - fifo_[kBinaryNode].size(); }

std::size_t Simulator::binary_input_size() const { return binary_input_.size(); }

std::vector<std::uint8_t> Simulator::take_binary_input(std::size_t max) {
  const std::size_t n = std::min(max, binary_input_.size());
  std::vector<std::uint8_t> out(binary_input_.begin(),
                                binary_input_.begin() + static_cast<std::ptrdiff_t>(n));
  binary_input_.erase(binary_input_.begin(),
                      binary_input_.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

std::int64_t Simulator::variable(const std::string &name) const {
  const auto it = variables_.find(text::upper(name));
  return it == variables_.end() ? 0 : it->second;
}

std::vector<std::int64_t> Simulator::take_pipe(const std::string &name, std::size_t max) {
  std::vector<std::int64_t> out;
  const auto it = pipes_.find(text::upper(name));
  if (it == pipes_.end())
    return out;
  auto &values = it->second;
  const std::size_t n = std::min(max, values.size());
  out.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
  values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

void Simulator::record_output(int output, std::int16_t value) { played_[output].push_back(value); }

bool Simulator::loaded() const { return loaded_; }

std::mt19937 &Simulator::random() { return random_; }

void Simulator::note(const std::string &text) { trace("note " + text); }

bool Simulator::running(const std::string &task) const {
  const std::string name = text::lower(task);
  return std::any_of(tasks_.begin(), tasks_.end(),
                     [&](const RunningTask &t) { return t.name == name; });
}

// ------------------------------------------------------------------- script

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
