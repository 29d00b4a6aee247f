#include "host.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <thread>

#include "real.h"

namespace dapsim {

std::atomic<std::uint64_t> g_sigint_activity{0};

void HostEvents::sigint_at_tick(Tick tick, Delivery delivery) {
  sigint_tick_ = tick;
  sigint_tick_delivery_ = delivery;
}

void HostEvents::sigint_after(std::uint64_t operations, Delivery delivery) {
  sigint_op_ = operations;
  sigint_op_delivery_ = delivery;
}

Tick HostEvents::next_tick() const {
  Tick next = INT64_MAX;
  if (sigint_tick_)
    next = std::min(next, *sigint_tick_);
  if (child_tick_)
    next = std::min(next, *child_tick_);
  return next;
}

void HostEvents::sigint_due(Delivery delivery) {
  if (!sigint_due_ || delivery == Delivery::handler)
    sigint_due_ = delivery;
}

namespace host {

bool in_command(const void *address) {
  Dl_info where{};
  if (address == nullptr || dladdr(address, &where) == 0 || where.dli_fname == nullptr)
    return false;
  const char *dot = std::strrchr(where.dli_fname, '.');
  return dot != nullptr && (std::strcmp(dot, ".mex") == 0 || std::strcmp(dot, ".mexa64") == 0);
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

pid_t start_child_that_exits() {
  const pid_t pid = fork();
  if (pid == 0)
    _exit(0);
  return pid;
}

} // namespace

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

bool ignores_sigint() {
  struct sigaction current {};
  real::sigaction()(SIGINT, nullptr, &current);
  return !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
}

// A child of the host ends in the middle of a call, as when a host's own
// helper process finishes: the host sees a SIGCHLD that is no Ctrl-C. We
// return once the host has taken it, and reap the child ourselves (the host
// may have reaped it already). Called without the lock.
void end_a_child() {
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
void raise_sigint(Delivery delivery) {
  if (ignores_sigint())
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

} // namespace host

} // namespace dapsim
