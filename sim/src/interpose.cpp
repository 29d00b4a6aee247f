// The C library entry points the simulator takes over.
//
// Only the two device nodes, descriptors opened on them, the DAPL directory,
// the clock, the board loader and SIGINT dispositions are ours; everything
// else goes straight to the C library with errno as the library left it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "real.h"
#include "rig_files.h"
#include "session.h"
#include "simulator.h"

#define DAPSIM_EXPORT extern "C" __attribute__((visibility("default")))

using dapsim::Simulator;
namespace real = dapsim::real;

extern "C" void __chk_fail(void) __attribute__((noreturn));

namespace {

using dapsim::libc::mode_argument;

// What an absolute path means to us: a device node, a file of the DAPL
// directory (to be served from our folder), or nothing.
struct Target {
  int node = -1;
  bool redirected = false;
  std::string path;
};

Target classify(const char *path) {
  Target target;
  const dapsession::PathClass c = dapsession::classify_path(path);
  if (c.node == dapsession::kAccel0) {
    target.node = dapsim::kTextNode;
  } else if (c.node == dapsession::kAccel1) {
    target.node = dapsim::kBinaryNode;
  } else if (c.dapl) {
    target.redirected = true;
    target.path = dapsim::rig_files().served_dapl(c.in_directory);
  }
  return target;
}

// Every open entry point comes here with a way to make the real call.
template <typename RealCall> int open_path(const char *path, RealCall &&call_real) {
  if (real::inside())
    return call_real(path);
  const int saved = errno;
  const Target target = classify(path);
  errno = saved;
  if (target.node >= 0)
    return Simulator::get().open_device(target.node);
  const int fd = call_real(target.redirected ? target.path.c_str() : path);
  if (target.redirected) {
    const int opened_errno = errno;
    Simulator::get().replay_dapl(path, fd, opened_errno);
    errno = opened_errno;
  }
  if (dapsim::device_node(fd) >= 0) {
    const int opened_errno = errno;
    Simulator::get().reclaimed(fd);
    errno = opened_errno;
  }
  return fd;
}

template <typename RealCall> FILE *fopen_path(const char *path, RealCall &&call_real) {
  if (real::inside())
    return call_real(path);
  const int saved = errno;
  const Target target = classify(path);
  errno = saved;
  if (target.redirected)
    return call_real(target.path.c_str());
  return call_real(path);
}

bool device_fd(int fd) { return !real::inside() && dapsim::device_node(fd) >= 0; }

// For letting go of a device: the simulator itself never closes or dup2s onto
// a device number through these entry points, so a call from inside it is a
// signal handler that interrupted one of its device calls, and it counts.
bool device_number(int fd) { return dapsim::device_node(fd) >= 0; }

void note_sigint_disposition(int signum) {
  if (signum == SIGINT)
    dapsim::g_sigint_activity.fetch_add(1);
}

} // namespace

DAPSIM_EXPORT int open(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&](const char *p) { return real::open()(p, flags, mode); });
}

DAPSIM_EXPORT int open64(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&](const char *p) { return real::open64()(p, flags, mode); });
}

DAPSIM_EXPORT int openat(int dirfd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&](const char *p) { return real::openat()(dirfd, p, flags, mode); });
}

DAPSIM_EXPORT int openat64(int dirfd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = mode_argument(flags, ap);
  va_end(ap);
  return open_path(path, [&](const char *p) { return real::openat64()(dirfd, p, flags, mode); });
}

DAPSIM_EXPORT int __open_2(const char *path, int flags) {
  return open_path(path, [&](const char *p) { return real::__open_2()(p, flags); });
}

DAPSIM_EXPORT int __open64_2(const char *path, int flags) {
  return open_path(path, [&](const char *p) { return real::__open64_2()(p, flags); });
}

DAPSIM_EXPORT int __openat_2(int dirfd, const char *path, int flags) {
  return open_path(path, [&](const char *p) { return real::__openat_2()(dirfd, p, flags); });
}

DAPSIM_EXPORT int __openat64_2(int dirfd, const char *path, int flags) {
  return open_path(path, [&](const char *p) { return real::__openat64_2()(dirfd, p, flags); });
}

DAPSIM_EXPORT FILE *fopen(const char *path, const char *mode) {
  return fopen_path(path, [&](const char *p) { return real::fopen()(p, mode); });
}

DAPSIM_EXPORT FILE *fopen64(const char *path, const char *mode) {
  return fopen_path(path, [&](const char *p) { return real::fopen64()(p, mode); });
}

DAPSIM_EXPORT ssize_t read(int fd, void *buffer, size_t count) {
  if (device_fd(fd))
    return Simulator::get().read_device(fd, buffer, count);
  return real::read()(fd, buffer, count);
}

DAPSIM_EXPORT ssize_t __read_chk(int fd, void *buffer, size_t count, size_t buffer_size) {
  if (device_fd(fd)) {
    if (count > buffer_size)
      __chk_fail();
    return Simulator::get().read_device(fd, buffer, count);
  }
  return real::__read_chk()(fd, buffer, count, buffer_size);
}

DAPSIM_EXPORT ssize_t write(int fd, const void *buffer, size_t count) {
  if (device_fd(fd))
    return Simulator::get().write_device(fd, buffer, count);
  return real::write()(fd, buffer, count);
}

DAPSIM_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void *argument = va_arg(ap, void *);
  va_end(ap);
  if (device_fd(fd))
    return Simulator::get().ioctl_device(fd, request, argument);
  return real::ioctl()(fd, request, argument);
}

DAPSIM_EXPORT int close(int fd) {
  if (device_number(fd))
    return Simulator::get().close_device(fd);
  return real::close()(fd);
}

DAPSIM_EXPORT int dup2(int oldfd, int newfd) noexcept {
  const bool was_device = device_number(newfd);
  const int rc = real::dup2()(oldfd, newfd);
  if (was_device && rc == newfd && oldfd != newfd) {
    const int saved = errno;
    Simulator::get().released(newfd);
    errno = saved;
  }
  return rc;
}

DAPSIM_EXPORT int dup3(int oldfd, int newfd, int flags) noexcept {
  const bool was_device = device_number(newfd);
  const int rc = real::dup3()(oldfd, newfd, flags);
  if (was_device && rc == newfd) {
    const int saved = errno;
    Simulator::get().released(newfd);
    errno = saved;
  }
  return rc;
}

DAPSIM_EXPORT clock_t times(struct tms *buffer) noexcept {
  if (real::inside())
    return real::times()(buffer);
  return Simulator::get().times(buffer, __builtin_return_address(0));
}

DAPSIM_EXPORT int usleep(useconds_t microseconds) {
  if (real::inside())
    return real::usleep()(microseconds);
  if (Simulator::get().sleep(microseconds, "usleep", microseconds) > 0) {
    errno = EINTR;
    return -1;
  }
  return 0;
}

DAPSIM_EXPORT int nanosleep(const struct timespec *request, struct timespec *remaining) {
  if (real::inside())
    return real::nanosleep()(request, remaining);
  if (request == nullptr) {
    errno = EFAULT;
    return -1;
  }
  if (request->tv_sec < 0 || request->tv_nsec < 0 || request->tv_nsec >= 1000000000L) {
    errno = EINVAL;
    return -1;
  }
  // Beyond a few years a sleep is a sleep forever; keep the arithmetic in range.
  constexpr long long kMaxSeconds = 100000000LL;
  const long long seconds = request->tv_sec > kMaxSeconds ? kMaxSeconds : request->tv_sec;
  const long long nanoseconds = seconds * 1000000000LL + request->tv_nsec;
  const std::int64_t left = Simulator::get().sleep(nanoseconds / 1000, "nanosleep", nanoseconds);
  if (left > 0) {
    if (remaining != nullptr) {
      remaining->tv_sec = static_cast<time_t>(left / 1000000);
      remaining->tv_nsec = static_cast<long>(left % 1000000) * 1000;
    }
    errno = EINTR;
    return -1;
  }
  return 0;
}

DAPSIM_EXPORT int system(const char *command) {
  if (!real::inside() && dapsession::is_loader_command(command))
    return Simulator::get().run_loader(command);
  return real::system()(command);
}

// The loader as a host runs it without system(): /bin/sh -c and the
// loader's command line.
DAPSIM_EXPORT int posix_spawn(pid_t *pid, const char *path,
                              const posix_spawn_file_actions_t *actions,
                              const posix_spawnattr_t *attributes, char *const argv[],
                              char *const envp[]) {
  if (!real::inside() && dapsession::is_loader_shell(path, argv))
    return Simulator::get().spawn_loader(pid, argv[2], actions, attributes, envp);
  return real::posix_spawn()(pid, path, actions, attributes, argv, envp);
}

DAPSIM_EXPORT pid_t waitpid(pid_t pid, int *status, int options) {
  int own = 0;
  int *where = status != nullptr ? status : &own;
  const pid_t ended = real::waitpid()(pid, where, options);
  if (ended > 0 && !real::inside() && Simulator::get().loaders_spawned() &&
      (WIFEXITED(*where) || WIFSIGNALED(*where)))
    Simulator::get().loader_waited(ended, where);
  return ended;
}

DAPSIM_EXPORT sighandler_t signal(int signum, sighandler_t handler) noexcept {
  const sighandler_t previous = real::signal()(signum, handler);
  if (previous != SIG_ERR)
    note_sigint_disposition(signum);
  return previous;
}

DAPSIM_EXPORT int sigaction(int signum, const struct sigaction *action,
                            struct sigaction *old_action) noexcept {
  const int rc = real::sigaction()(signum, action, old_action);
  if (rc == 0 && action != nullptr)
    note_sigint_disposition(signum);
  return rc;
}

namespace {

// The stand-in for the board loader, and the shell that runs it, inherit the
// host's environment and so load us too; they are no hosts of the board and
// must stay as quiet as a rig's loader: no banner, no DAPSIM_SCRIPT (whose
// "reset" would empty the host's trace file).
bool runs_the_loader() {
  if (getenv(dapsim::kLoaderExitVariable) != nullptr)
    return true;
  const int fd = real::open()("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  char arguments[512];
  const ssize_t length = real::read()(fd, arguments, sizeof arguments - 1);
  real::close()(fd);
  if (length <= 0)
    return false;
  arguments[length] = '\0';
  // sh -c 'DAPSIM_LOADER_EXIT=N ...'
  const char *second = arguments + strlen(arguments) + 1;
  if (second >= arguments + length || strcmp(second, "-c") != 0)
    return false;
  const char *third = second + 3;
  const size_t name = strlen(dapsim::kLoaderExitVariable);
  return third < arguments + length && strncmp(third, dapsim::kLoaderExitVariable, name) == 0 &&
         third[name] == '=';
}

__attribute__((constructor)) void load_simulator() {
  if (runs_the_loader())
    return;
  static const char banner[] = "dapsim: simulated DAP board (no hardware is used)\n";
  real::write_all(2, banner, sizeof banner - 1);
  Simulator &sim = Simulator::get();
  if (const char *script = getenv("DAPSIM_SCRIPT"); script != nullptr && *script != '\0')
    sim.run_script(script);
}

} // namespace
