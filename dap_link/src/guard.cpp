#include "dap_link/guard.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "dap_link/ticks.h"
#include "mex.h"

std::atomic<int> fdDapTxt{0};
std::atomic<int> fdDapBin{0};
std::atomic<void (*)(int)> old_handler{nullptr};

namespace {

constexpr char kClosingLine[] = "Closing binary and text channels to DAP.\n";
constexpr char kExitingLine[] = "Exiting MEX function.\n";

std::atomic<int> g_output{static_cast<int>(dap::GuardOutput::command_window)};
// Set by whoever takes the channels away first (the handler, or the command
// noticing the host's own interrupt), so it happens once per call.
std::atomic<bool> g_taken{false};
// Handlers running right now; the end of a call waits for them before it
// closes anything, so a number the handler is pointing at /dev/null is not
// freed (and reused by the host) under its feet.
std::atomic<int> g_in_handler{0};
// Numbers that were let go: still ours (now /dev/null), closed by the call's end.
std::atomic<int> g_released_text{0};
std::atomic<int> g_released_binary{0};
// The handler's lines, when they are to be printed in the command window by
// the call itself (mexPrintf is not safe in a signal handler).
std::atomic<bool> g_lines_pending{false};

void write_all(const char *text, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(STDOUT_FILENO, text, length);
    if (n <= 0)
      return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

// Lets go of the device behind `fd` while keeping the number reserved.
int release(int fd) {
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0 && dup2(null_fd, fd) == fd) {
    close(null_fd);
    return fd;
  }
  if (null_fd >= 0)
    close(null_fd);
  close(fd); // no /dev/null to spare: plain close, the number is gone
  return 0;
}

// Binary channel first, then the text channel, as the handler always has.
void release_channels() {
  const int binary_fd = fdDapBin.exchange(0);
  if (binary_fd > 0)
    g_released_binary.store(release(binary_fd));
  const int text_fd = fdDapTxt.exchange(0);
  if (text_fd > 0)
    g_released_text.store(release(text_fd));
}

void close_released(std::atomic<int> &slot) {
  const int fd = slot.exchange(0);
  if (fd > 0)
    close(fd);
}

// What the handler does, done on the command's own thread: the two lines and
// the channels let go, once however many ways the interrupt is noticed. The
// host holds the interrupt and acts on it once the call returns, so it is
// not raised again.
void take_interrupt_here() {
  if (!g_taken.exchange(true)) {
    const bool to_stdout = g_output.load() == static_cast<int>(dap::GuardOutput::standard_output);
    if (to_stdout)
      write_all(kClosingLine, sizeof kClosingLine - 1);
    else
      mexPrintf("%s", kClosingLine);
    release_channels();
    if (to_stdout)
      write_all(kExitingLine, sizeof kExitingLine - 1);
    else
      mexPrintf("%s", kExitingLine);
  }
  dap::detail::set_interrupted(true);
}

// Runs from dap::interrupted(): a Ctrl-C the host took without running our
// handler.
bool poll_host_interrupt() {
  if (!dap::detail::host_interrupt_since_mark())
    return false;
  take_interrupt_here();
  return true;
}

// Waits for our child `pid` to end and reaps it; false with errno if it
// cannot be waited for. The host is not to hear of its end: Octave answers
// every SIGCHLD it takes, once the call has returned, by ignoring SIGINT for
// a moment, and ignoring a signal throws away one that is pending then, so a
// Ctrl-C arriving as the call ends would be lost. The kernel offers a child's
// SIGCHLD first to the thread that started it when that thread is waiting for
// the signal, so the wait sits in sigtimedwait (SIGCHLD is held here) and
// looks for the end between times; a notice that was not about our child, or
// another child that ended meanwhile, is handed on to the host afterwards.
bool await_own_child(pid_t pid, int *status) {
  sigset_t child_ended;
  sigemptyset(&child_ended);
  sigaddset(&child_ended, SIGCHLD);
  bool others = false;
  const struct timespec step = {0, 10000000};
  for (;;) {
    const pid_t ended = waitpid(pid, status, WNOHANG);
    if (ended == pid)
      break;
    if (ended < 0 && errno != EINTR)
      return false;
    siginfo_t info{};
    if (sigtimedwait(&child_ended, &info, &step) == SIGCHLD && info.si_pid != pid)
      others = true;
  }
  // A child that ended before the first look left its notice pending here.
  const struct timespec now_only = {0, 0};
  siginfo_t info{};
  while (sigtimedwait(&child_ended, &info, &now_only) == SIGCHLD)
    others = others || info.si_pid != pid;
  siginfo_t waiting{};
  if (!others && waitid(P_ALL, 0, &waiting, WEXITED | WNOHANG | WNOWAIT) == 0)
    others = waiting.si_pid != 0;
  if (others)
    kill(getpid(), SIGCHLD);
  return true;
}

// Runs `command_line` with /bin/sh as system() does (SIGCHLD held and SIGQUIT
// ignored meanwhile, the child started with the caller's mask and the status
// from waitpid), with one difference: SIGINT is only held, never ignored, so
// a Ctrl-C that is pending as the program starts, or that comes while it
// runs, is not thrown away. `sigint_held` tells whether one was held once
// the program had ended.
int run_shell(const char *command_line, bool *sigint_held) {
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGCHLD);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &held, &previous);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction quit {};
  sigaction(SIGQUIT, &ignore, &quit);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &previous);
  sigset_t defaults;
  sigemptyset(&defaults);
  if ((quit.sa_flags & SA_SIGINFO) || quit.sa_handler != SIG_IGN)
    sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char shell[] = "sh";
  char option[] = "-c";
  char *const arguments[] = {shell, option, const_cast<char *>(command_line), nullptr};
  pid_t pid = -1;
  int status = -1;
  int error = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  if (error == 0 && !await_own_child(pid, &status)) {
    error = errno;
    status = -1;
  }
  // A held Ctrl-C is taken here and handed on afresh by the caller: one
  // held for this thread alone would never reach a host that blocks SIGINT
  // on it and takes it on a thread of its own.
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  const struct timespec now_only = {0, 0};
  *sigint_held = sigtimedwait(&interrupt, nullptr, &now_only) == SIGINT;
  sigaction(SIGQUIT, &quit, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return status;
}

// A Ctrl-C that reached the process before the call ends is the host's
// before the call returns. A host that takes SIGINT on a thread of its own
// may not have taken it yet (on a busy machine that thread waits its turn),
// and a pending signal can still be thrown away, as above; so the call waits
// until the host has it, at most half a second.
void await_pending_interrupt() {
  if (!dap::detail::host_takes_sigint_itself())
    return;
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long deadline = now.tv_sec * 1000000000LL + now.tv_nsec + 500000000LL;
  for (;;) {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0 || sigismember(&pending, SIGINT) != 1)
      return;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec * 1000000000LL + now.tv_nsec >= deadline)
      return;
    sched_yield();
  }
}

} // namespace

// The host's whole disposition (handler, flags, mask), so that it comes back
// exactly as the host installed it: a handler that takes SA_SIGINFO, runs on
// an alternate stack or wants its calls left unrestarted gets the interrupt
// the way it asked for it. Written before ctrl_c is installed and not again
// until the guard is gone, so the handler reads it whole.
struct sigaction g_previous_action {};

void mysig() {
  struct sigaction guard {};
  guard.sa_handler = ctrl_c;
  sigemptyset(&guard.sa_mask);
  // Restarted calls find the number pointed at /dev/null and end at once;
  // the alternate stack, when the host keeps one, is where it wants handlers.
  guard.sa_flags = SA_RESTART | SA_ONSTACK;
  struct sigaction current {};
  if (sigaction(SIGINT, nullptr, &current) != 0)
    return;
  // Installing over ourselves would store our own handler as the one to hand
  // the interrupt on to, and Ctrl-C could never reach the host again.
  const bool ours = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == ctrl_c;
  if (!ours) {
    g_previous_action = current;
    old_handler.store((current.sa_flags & SA_SIGINFO) ? nullptr : current.sa_handler);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::atomic_thread_fence(std::memory_order_seq_cst);
  }
  sigaction(SIGINT, &guard, nullptr);
}

void restoresig() { sigaction(SIGINT, &g_previous_action, nullptr); }

void ctrl_c(int) {
  const int saved_errno = errno;
  g_in_handler.fetch_add(1);
  dap::detail::set_interrupted(true);

  const bool host_default =
      !(g_previous_action.sa_flags & SA_SIGINFO) && g_previous_action.sa_handler == SIG_DFL;
  if (!g_taken.exchange(true)) {
    // Print directly when the lines belong on standard output or when the
    // re-raised interrupt is going to end the process; otherwise the call
    // prints them in the command window as it returns.
    const bool direct =
        g_output.load() == static_cast<int>(dap::GuardOutput::standard_output) || host_default;
    if (direct)
      write_all(kClosingLine, sizeof kClosingLine - 1);
    else
      g_lines_pending.store(true);
    release_channels();
    if (direct)
      write_all(kExitingLine, sizeof kExitingLine - 1);
  }
  restoresig();
  // Only now may the call end: were it to end first, the next call's guard
  // could be installed before the line above took it away again.
  g_in_handler.fetch_sub(1);
  // SIGINT is blocked while this handler runs, so the host's disposition
  // takes it as soon as we return.
  raise(SIGINT);
  errno = saved_errno;
}

namespace dap {

GuardedSession::GuardedSession(GuardOutput output) : ChannelSession(fdDapTxt, fdDapBin) {
  detail::set_interrupted(false);
  g_taken.store(false);
  g_lines_pending.store(false);
  g_output.store(static_cast<int>(output));
  dap::detail::mark_host_interrupts();
  detail::set_interrupt_probe(poll_host_interrupt);
  mysig();
}

GuardedSession::~GuardedSession() {
  GuardedSession::close();
  restoresig();
  await_pending_interrupt();
  detail::set_interrupt_probe(nullptr);
  if (g_lines_pending.exchange(false)) {
    mexPrintf("%s", kClosingLine);
    mexPrintf("%s", kExitingLine);
  }
}

void GuardedSession::close() {
  // Closing is a device operation too: a Ctrl-C the host holds by now is
  // dealt with as the handler would have (the lines, binary channel first).
  static_cast<void>(interrupted());
  const int text_fd = fdDapTxt.exchange(0);
  const int binary_fd = fdDapBin.exchange(0);
  while (g_in_handler.load() != 0)
    sched_yield();
  if (text_fd > 0)
    ::close(text_fd);
  if (binary_fd > 0)
    ::close(binary_fd);
  close_released(g_released_text);
  close_released(g_released_binary);
}

int GuardedSession::run_program(const char *command_line) {
  bool sigint_held = false;
  const int status = run_shell(command_line, &sigint_held);
  const int error = errno;
  // A shell that outlives its command reports a death by SIGINT as 128 + 2.
  const bool ended_by_ctrl_c =
      status != -1 && ((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) ||
                       (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT));
  if (ended_by_ctrl_c || sigint_held) {
    // The host gets its interrupt: a host that runs handlers runs ours on the
    // way; one that takes it on a thread of its own raises its flag a moment
    // later, and is given that moment (on the real clock, at most 0.1 s) so
    // that it acts on it as the call returns. The call lets go either way.
    // One Ctrl-C is handed on however many ways it came; a host that holds
    // one already gets no second.
    if (!g_taken.load() && !detail::host_interrupt_since_mark())
      kill(getpid(), SIGINT);
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000000000LL + now.tv_nsec + 100000000LL;
    while (!g_taken.load() && !detail::host_interrupt_since_mark()) {
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (now.tv_sec * 1000000000LL + now.tv_nsec >= deadline)
        break;
      sched_yield();
    }
    take_interrupt_here();
  }
  errno = error;
  return status;
}

} // namespace dap
