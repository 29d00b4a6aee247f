// The session recorder: an LD_PRELOAD library for a rig. Every call on the
// two device nodes, every open of a DAPL file and every run of the board
// loader goes straight to the system underneath (the next library, found
// with dlsym(RTLD_NEXT)); afterwards the call is noted in the session file
// named by DAPREC_FILE. What the caller gets back, errno included, is what
// the system gave.
//
// These are the entry points; recorder.h names the parts they hand the
// calls to.
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <string.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "recorder.h"

#define DAPREC_EXPORT extern "C" __attribute__((visibility("default")))

using namespace daprec;
using dapsession::kNoNode;

namespace {

template <typename Call> int open_path(const char *path, Call &&call) {
  const dapsession::PathClass target = dapsession::classify_path(path);
  const std::uint8_t node = target.node;
  const bool dapl = target.dapl;
  if (node != kNoNode)
    look_for_interrupt(true);
  std::optional<CallInProgress> device;
  if (node != kNoNode)
    device.emplace();
  const int fd = call();
  const int error = errno;
  if (node != kNoNode) {
    if (fd >= 0)
      mark_device(fd, node);
    const std::int64_t tick = current_tick();
    record([&](dapsession::Recording &w) { w.open(node, tick, fd, error); });
  } else if (dapl) {
    const std::int64_t tick = current_tick();
    record([&](dapsession::Recording &w) { w.dapl(tick, path, fd, error); });
  } else if (device_node(fd) >= 0) {
    // A device number we missed the end of (a raw close) now names another file.
    forget_device(fd);
  }
  errno = error;
  return fd;
}

} // namespace

DAPREC_EXPORT int open(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&] { return next_open()(path, flags, mode); });
}

DAPREC_EXPORT int open64(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&] { return next_open64()(path, flags, mode); });
}

DAPREC_EXPORT int openat(int dirfd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&] { return next_openat()(dirfd, path, flags, mode); });
}

DAPREC_EXPORT int openat64(int dirfd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&] { return next_openat64()(dirfd, path, flags, mode); });
}

DAPREC_EXPORT int __open_2(const char *path, int flags) {
  return open_path(path, [&] { return next___open_2()(path, flags); });
}

DAPREC_EXPORT int __open64_2(const char *path, int flags) {
  return open_path(path, [&] { return next___open64_2()(path, flags); });
}

DAPREC_EXPORT int __openat_2(int dirfd, const char *path, int flags) {
  return open_path(path, [&] { return next___openat_2()(dirfd, path, flags); });
}

DAPREC_EXPORT int __openat64_2(int dirfd, const char *path, int flags) {
  return open_path(path, [&] { return next___openat64_2()(dirfd, path, flags); });
}

namespace {

// A read or write on `fd`, made and noted when it was a device as the call
// started: a signal handler may let go of the descriptor before the call
// returns, and the call is still the one it was. What comes back, errno
// included, is what the system gave.
template <typename Call>
ssize_t transfer(int fd, const void *buffer, size_t count, bool is_write, Call &&call) {
  const int node = device_node(fd);
  if (node < 0)
    return call();
  look_for_interrupt(true);
  const CallInProgress device;
  const ssize_t n = call();
  const int error = errno;
  const std::int64_t tick = current_tick();
  record([&](dapsession::Recording &w) {
    const auto channel = static_cast<std::uint8_t>(node);
    // What the system refused to read is not read here either.
    if (is_write)
      w.write(channel, tick, count, n, error, n < 0 && error == EFAULT ? nullptr : buffer);
    else
      w.read(channel, tick, count, n, error, buffer);
  });
  return n;
}

} // namespace

DAPREC_EXPORT ssize_t read(int fd, void *buffer, size_t count) {
  return transfer(fd, buffer, count, false, [&] { return next_read()(fd, buffer, count); });
}

DAPREC_EXPORT ssize_t __read_chk(int fd, void *buffer, size_t count, size_t buffer_size) {
  return transfer(fd, buffer, count, false,
                  [&] { return next___read_chk()(fd, buffer, count, buffer_size); });
}

DAPREC_EXPORT ssize_t write(int fd, const void *buffer, size_t count) {
  return transfer(fd, buffer, count, true, [&] { return next_write()(fd, buffer, count); });
}

DAPREC_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void *argument = va_arg(ap, void *);
  va_end(ap);
  const int node = device_node(fd);
  if (node < 0)
    return next_ioctl()(fd, request, argument);
  look_for_interrupt(true);
  const CallInProgress device;
  const int rc = next_ioctl()(fd, request, argument);
  const int error = errno;
  const std::int64_t tick = current_tick();
  // The driver's requests take a pointer to an int: its value is read
  // (copied, never dereferenced) only when the driver took the request.
  // Another request's argument may be no pointer at all.
  const bool int_request = request == 1 || request == 2 || request == 14 || request == 15;
  std::int32_t value = 0;
  if (rc >= 0 && int_request && argument != nullptr)
    memcpy(&value, argument, sizeof value);
  record([&](dapsession::Recording &w) {
    w.ioctl(static_cast<std::uint8_t>(node), tick, request, rc, error, value);
  });
  errno = error;
  return rc;
}

DAPREC_EXPORT int close(int fd) {
  const int node = device_node(fd);
  if (node >= 0)
    look_for_interrupt(true);
  if (node >= 0)
    forget_device(fd);
  const int rc = next_close()(fd);
  if (node >= 0) {
    const int error = errno;
    let_go(fd, node, true, rc);
    errno = error;
  }
  return rc;
}

namespace {

// A device number that dup2/dup3 just pointed elsewhere (how the interrupt
// guard lets go of a channel).
int repointed(int newfd, int node, int rc) {
  if (node >= 0 && rc == newfd) {
    const int error = errno;
    forget_device(newfd);
    let_go(newfd, node, false, 0);
    errno = error;
  }
  return rc;
}

} // namespace

DAPREC_EXPORT int dup2(int oldfd, int newfd) noexcept {
  const int node = oldfd != newfd ? device_node(newfd) : -1;
  if (node >= 0)
    look_for_interrupt(true);
  return repointed(newfd, node, next_dup2()(oldfd, newfd));
}

DAPREC_EXPORT int dup3(int oldfd, int newfd, int flags) noexcept {
  const int node = device_node(newfd);
  if (node >= 0)
    look_for_interrupt(true);
  return repointed(newfd, node, next_dup3()(oldfd, newfd, flags));
}

DAPREC_EXPORT clock_t times(struct tms *buffer) noexcept {
  look_for_interrupt(false);
  const CallInProgress call;
  const clock_t value = next_times()(buffer);
  const int saved = errno;
  note_tick(static_cast<std::int64_t>(value));
  errno = saved;
  return value;
}

DAPREC_EXPORT int system(const char *command) {
  if (!dapsession::is_loader_command(command))
    return next_system()(command);
  // Take the file before the loader starts, so that it stays ours: the
  // loader inherits LD_PRELOAD and would otherwise record itself.
  take_file_before_loader();
  const int status = next_system()(command);
  const int error = errno;
  const std::int64_t tick = current_tick();
  record([&](dapsession::Recording &w) {
    w.loader(tick, command, status, error);
    w.flush();
  });
  errno = error;
  return status;
}

// The same run of the loader, started as /bin/sh -c with posix_spawn: its
// status is recorded once the host has waited for it.
namespace {
std::mutex g_spawned_mutex;
std::map<pid_t, std::string> g_spawned; // loader runs not waited for yet
// Their number, looked at without the lock: a host may wait for its
// children in a signal handler.
std::atomic<int> g_spawned_count{0};
} // namespace

DAPREC_EXPORT int posix_spawn(pid_t *pid, const char *path,
                              const posix_spawn_file_actions_t *actions,
                              const posix_spawnattr_t *attributes, char *const argv[],
                              char *const envp[]) {
  if (!dapsession::is_loader_shell(path, argv))
    return next_posix_spawn()(pid, path, actions, attributes, argv, envp);
  take_file_before_loader();
  pid_t child = -1;
  const int error = next_posix_spawn()(&child, path, actions, attributes, argv, envp);
  if (error != 0) {
    const std::int64_t tick = current_tick();
    record([&](dapsession::Recording &w) {
      w.loader(tick, argv[2], -1, error);
      w.flush();
    });
    return error;
  }
  if (pid != nullptr)
    *pid = child;
  std::lock_guard<std::mutex> lock(g_spawned_mutex);
  g_spawned[child] = argv[2];
  g_spawned_count.fetch_add(1);
  return 0;
}

DAPREC_EXPORT pid_t waitpid(pid_t pid, int *status, int options) {
  int own = 0;
  int *where = status != nullptr ? status : &own;
  const pid_t ended = next_waitpid()(pid, where, options);
  if (ended <= 0 || g_spawned_count.load() == 0 || !(WIFEXITED(*where) || WIFSIGNALED(*where)))
    return ended;
  std::string command;
  {
    std::lock_guard<std::mutex> lock(g_spawned_mutex);
    const auto it = g_spawned.find(ended);
    if (it == g_spawned.end())
      return ended;
    command = std::move(it->second);
    g_spawned.erase(it);
    g_spawned_count.fetch_sub(1);
  }
  const int saved = errno;
  const std::int64_t tick = current_tick();
  const int run_status = *where;
  // A Ctrl-C the host held (SIGINT blocked) while the loader ran is still
  // pending: the host takes it once the run is over, and what it sets off
  // then (a handler run, a flag rising) is this same Ctrl-C.
  sigset_t pending;
  sigemptyset(&pending);
  const bool held = sigpending(&pending) == 0 && sigismember(&pending, SIGINT) == 1;
  record([&](dapsession::Recording &w) {
    w.loader(tick, command.c_str(), run_status, 0);
    if (held) {
      w.interrupt(tick, dapsession::Interrupt::held);
      absorb_held_interrupt();
    }
    w.flush();
  });
  errno = saved;
  return ended;
}

// The host's SIGINT handler runs through ours; everything else about its
// disposition (mask, flags, alternate stack) is as it asked.
DAPREC_EXPORT int sigaction(int signum, const struct sigaction *action,
                            struct sigaction *old_action) noexcept {
  if (signum != SIGINT)
    return next_sigaction()(signum, action, old_action);
  return wrapped_sigaction(action, old_action);
}

// As the C library's signal(): BSD semantics, the signal blocked in its own
// handler, calls restarted.
DAPREC_EXPORT sighandler_t signal(int signum, sighandler_t handler) noexcept {
  if (signum != SIGINT)
    return next_signal()(signum, handler);
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, signum);
  action.sa_flags = SA_RESTART;
  struct sigaction previous {};
  if (sigaction(signum, &action, &previous) != 0)
    return SIG_ERR;
  return previous.sa_handler;
}
