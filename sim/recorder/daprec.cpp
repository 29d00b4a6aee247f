// The session recorder: an LD_PRELOAD library for a rig. Every call on the
// two device nodes, every open of a DAPL file and every run of the board
// loader goes straight to the system underneath (the next library, found
// with dlsym(RTLD_NEXT)); afterwards the call is noted in the session file
// named by DAPREC_FILE. What the caller gets back, errno included, is what
// the system gave.
//
// The file belongs to the first process that has something to record: it
// holds an exclusive lock on it, so the shell and the loader that the host
// starts (they inherit LD_PRELOAD) stay out of it, and so does a child the
// host forks.
//
// The operator's Ctrl-C is part of the session: where it reached the command
// (a SIGINT handler ran, Octave's interrupt count rose, the host's interrupt
// query turned true) is noted between the calls it came between, looked for
// as each call starts and as it ends. To see a handler run, the SIGINT
// handler the host installs is called through one of ours; sigaction() and
// signal() tell the host only what it installed.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "next_libc.h"
#include "session.h"

#define DAPREC_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" void __chk_fail(void) __attribute__((noreturn));

namespace {

using dapsession::kNoNode;

void *next_symbol(const char *name) {
  return dapsim::libc::next_symbol(name, "daprec", "the recorder cannot pass the call on");
}

#define DAPREC_NEXT(type, name) DAPSIM_NEXT_FN(next_symbol, type, next_##name, name)

using namespace dapsim::libc;

DAPREC_NEXT(OpenFn, open)
DAPREC_NEXT(OpenFn, open64)
DAPREC_NEXT(OpenatFn, openat)
DAPREC_NEXT(OpenatFn, openat64)
DAPREC_NEXT(Open2Fn, __open_2)
DAPREC_NEXT(Open2Fn, __open64_2)
DAPREC_NEXT(Openat2Fn, __openat_2)
DAPREC_NEXT(Openat2Fn, __openat64_2)
DAPREC_NEXT(ReadFn, read)
DAPREC_NEXT(ReadChkFn, __read_chk)
DAPREC_NEXT(WriteFn, write)
DAPREC_NEXT(IoctlFn, ioctl)
DAPREC_NEXT(CloseFn, close)
DAPREC_NEXT(Dup2Fn, dup2)
DAPREC_NEXT(Dup3Fn, dup3)
DAPREC_NEXT(TimesFn, times)
DAPREC_NEXT(SystemFn, system)
DAPREC_NEXT(PosixSpawnFn, posix_spawn)
DAPREC_NEXT(WaitpidFn, waitpid)
DAPREC_NEXT(SigactionFn, sigaction)
DAPREC_NEXT(SignalFn, signal)

// Which descriptor numbers the host opened on a device node: 0 none, else
// node + 1. Lock-free: the host's other descriptors never wait on us.
constexpr int kFdSlots = 65536;
std::atomic<std::uint8_t> g_fd_node[kFdSlots];

int device_node(int fd) {
  if (fd < 0 || fd >= kFdSlots)
    return -1;
  return g_fd_node[fd].load(std::memory_order_acquire) - 1;
}

void mark(int fd, int node) {
  if (fd >= 0 && fd < kFdSlots)
    g_fd_node[fd].store(static_cast<std::uint8_t>(node + 1), std::memory_order_release);
}

// The recording itself. Everything below runs with g_mutex held.
std::mutex g_mutex;
enum class State { idle, recording, passive };
State g_state = State::idle;
dapsession::Recording *g_writer = nullptr;
const char *g_path = nullptr; // DAPREC_FILE as it was taken
// The last value times() gave the host: the tick of what it does next.
std::atomic<std::int64_t> g_tick{-1};
// times() values seen before the file was taken: only the last run counts.
std::int64_t g_early_value = 0;
std::uint64_t g_early_count = 0;

// A signal handler that lets go of a device (dup2, close) while this very
// thread is inside the recorder would wait for itself: its record is kept
// here and written when the interrupted record is done.
__attribute__((tls_model("initial-exec"))) thread_local bool t_recording = false;
constexpr int kDeferredSlots = 16;
std::atomic<int> g_deferred_count{0};
std::atomic<int> g_deferred_fd[kDeferredSlots];
std::atomic<int> g_deferred_node[kDeferredSlots];
std::atomic<int> g_deferred_result[kDeferredSlots];
std::atomic<bool> g_deferred_closed[kDeferredSlots];
std::atomic<std::int64_t> g_deferred_tick[kDeferredSlots];

void say(const char *text) { [[maybe_unused]] long rc = syscall(SYS_write, 2, text, strlen(text)); }

// A write of the file that failed ends the recording, said once at once:
// the file keeps what was written whole before it.
void stop_if_the_file_failed() {
  const int error = g_writer->failed_error();
  if (error == 0)
    return;
  g_state = State::passive;
  char reason[128];
  const char *text = strerror_r(error, reason, sizeof reason);
  char line[4352];
  snprintf(line, sizeof line,
           "daprec: cannot write the session file %s: %s (errno %d); recording stopped, %llu "
           "bytes kept (the calls still go through)\n",
           g_path, text, error, static_cast<unsigned long long>(g_writer->kept()));
  say(line);
}

// ------------------------------------------------------------ interrupts

// The host's own SIGINT disposition, as it installed it; the kernel has ours
// in its place while it is a handler. Two slots, so that the handler reads a
// whole one while sigaction() (perhaps from a handler) fills the other.
struct sigaction g_host_action[2];
std::atomic<int> g_host_slot{0};
// Runs of the host's handler so far, and how many are under way.
std::atomic<std::uint64_t> g_handler_runs{0};
std::atomic<int> g_handlers_running{0};
// The host's interrupt flags, looked up when the library loads.
volatile sig_atomic_t *g_octave_state = nullptr;
bool (*g_interrupt_query)() = nullptr;
// What the last look saw.
std::atomic<std::uint64_t> g_seen_runs{0};
std::atomic<int> g_seen_state{0};
std::atomic<bool> g_seen_query{false};
// A Ctrl-C noted from inside the handler it ran: what it sets off once the
// handler is done (the host's own handler, to which ours hands it on, and
// the host's flags) is that same Ctrl-C.
std::atomic<bool> g_absorb{false};
// A Ctrl-C noted as held while the loader ran: the first sign of one that
// comes next (the host taking it) is that same Ctrl-C.
std::atomic<bool> g_absorb_held{false};

bool is_handler(const struct sigaction &a) {
  return (a.sa_flags & SA_SIGINFO) != 0 || (a.sa_handler != SIG_DFL && a.sa_handler != SIG_IGN);
}

void set_host_action(const struct sigaction &action) {
  const int next = 1 - g_host_slot.load();
  g_host_action[next] = action;
  g_host_slot.store(next);
}

void call_host_handler(int signal_number, siginfo_t *info, void *context) {
  const struct sigaction host = g_host_action[g_host_slot.load()];
  if (host.sa_flags & SA_RESETHAND) {
    struct sigaction reset {};
    reset.sa_handler = SIG_DFL;
    set_host_action(reset); // as the kernel has just done with ours
  }
  g_handler_runs.fetch_add(1);
  g_handlers_running.fetch_add(1);
  if (host.sa_flags & SA_SIGINFO) {
    host.sa_sigaction(signal_number, info, context);
  } else if (host.sa_handler == SIG_DFL) {
    // Another thread put the default back as this one came in.
    next_sigaction()(SIGINT, &host, nullptr);
    raise(SIGINT);
  } else if (host.sa_handler != SIG_IGN) {
    host.sa_handler(signal_number);
  }
  g_handlers_running.fetch_sub(1);
}

int current_octave_state() { return g_octave_state != nullptr ? *g_octave_state : 0; }
bool current_query() { return g_interrupt_query != nullptr && g_interrupt_query(); }

// Cheap and lock-free: whether anything has changed since the last look.
bool interrupt_signs_changed() {
  if (g_handler_runs.load() != g_seen_runs.load() || g_absorb.load())
    return true;
  // Octave's count falls again once it has acted on a Ctrl-C: taken in
  // too, so that the next one shows as a rise.
  return current_octave_state() != g_seen_state.load() || current_query() != g_seen_query.load();
}

// With the lock held: notes a Ctrl-C that has reached the command since the
// last look, when the file is being written; takes in what it saw either way.
void look_for_interrupt_locked(std::int64_t tick) {
  const std::uint64_t runs = g_handler_runs.load();
  const int state = current_octave_state();
  const bool query = current_query();
  const bool by_handler = runs != g_seen_runs.load();
  const bool by_octave = state > 0 && state > g_seen_state.load();
  const bool by_query = query && !g_seen_query.load();
  g_seen_runs.store(runs);
  g_seen_state.store(state);
  g_seen_query.store(query);
  const bool inside = g_handlers_running.load() > 0;
  if (g_absorb.load()) {
    if (!inside)
      g_absorb.store(false);
    return;
  }
  if (!(by_handler || by_octave || by_query))
    return;
  if (g_absorb_held.exchange(false) || g_state != State::recording)
    return;
  using dapsession::Interrupt;
  g_writer->interrupt(tick, by_handler  ? Interrupt::handler
                            : by_octave ? Interrupt::octave
                                        : Interrupt::query);
  if (by_handler && inside)
    g_absorb.store(true);
  stop_if_the_file_failed();
}

std::uint64_t limit_from_environment() {
  const char *env = getenv("DAPREC_LIMIT");
  if (env == nullptr || *env == '\0')
    return dapsession::kDefaultLimit;
  char *end = nullptr;
  const unsigned long long v = strtoull(env, &end, 0);
  if (end == env || *end != '\0' || v < 64)
    return dapsession::kDefaultLimit;
  return v;
}

void finish_at_exit() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_state == State::recording && g_writer != nullptr) {
    g_writer->finish();
    stop_if_the_file_failed();
  }
}

// A child of a recording process (fork without exec) keeps our memory but
// not the file's lock: it records nothing and flushes nothing.
void forked_child() {
  if (g_state == State::recording)
    g_state = State::passive;
}

// The file's descriptor goes to a high number, so that the host's own
// descriptors are numbered as they would be without the recorder.
int out_of_the_way(int fd) {
  struct rlimit files {};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 64)
    return fd;
  const rlim_t top = std::min<rlim_t>(files.rlim_cur, kFdSlots);
  const int high = fcntl(fd, F_DUPFD_CLOEXEC, static_cast<int>(top - 32));
  if (high < 0)
    return fd;
  next_close()(fd);
  return high;
}

// The first thing worth recording takes the file, unless another process
// (the host that started us) holds it.
bool take_file() {
  if (g_state != State::idle)
    return g_state == State::recording;
  g_state = State::passive;
  const char *path = getenv("DAPREC_FILE");
  if (path == nullptr || *path == '\0')
    return false;
  int fd = next_open()(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    say("daprec: cannot open DAPREC_FILE; nothing is recorded\n");
    return false;
  }
  fd = out_of_the_way(fd);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    next_close()(fd);
    return false;
  }
  if (ftruncate(fd, 0) != 0) {
    next_close()(fd);
    say("daprec: cannot empty DAPREC_FILE; nothing is recorded\n");
    return false;
  }
  g_path = strdup(path);
  const long per_second = sysconf(_SC_CLK_TCK);
  g_writer = new dapsession::Recording(
      fd, limit_from_environment(), per_second > 0 ? static_cast<std::uint32_t>(per_second) : 100,
      next_write());
  for (; g_early_count > 0; --g_early_count)
    g_writer->clock(g_early_value);
  g_state = State::recording;
  pthread_atfork(nullptr, nullptr, forked_child);
  atexit(finish_at_exit);
  stop_if_the_file_failed();
  return g_state == State::recording;
}

// A relative DAPREC_FILE names a file of the folder the host started in,
// though the host may change folders before it records anything (octave-sim
// runs a script from the script's own folder); the processes it starts
// inherit the name made absolute.
__attribute__((constructor)) void anchor_file_name() {
  g_octave_state =
      static_cast<volatile sig_atomic_t *>(dlsym(RTLD_DEFAULT, "octave_interrupt_state"));
  g_interrupt_query = reinterpret_cast<bool (*)()>(dlsym(RTLD_DEFAULT, "utIsInterruptPending"));
  g_seen_state.store(current_octave_state());
  g_seen_query.store(current_query());
  const char *path = getenv("DAPREC_FILE");
  if (path == nullptr || *path == '\0' || *path == '/')
    return;
  char *folder = getcwd(nullptr, 0);
  if (folder == nullptr)
    return;
  const size_t size = strlen(folder) + 1 + strlen(path) + 1;
  if (char *absolute = static_cast<char *>(malloc(size)); absolute != nullptr) {
    snprintf(absolute, size, "%s/%s", folder, path);
    setenv("DAPREC_FILE", absolute, 1);
    free(absolute);
  }
  free(folder);
}

void write_deferred() {
  if (g_deferred_count.load(std::memory_order_acquire) == 0)
    return; // almost always: no handler let go of a device meanwhile
  int done = 0;
  for (;;) {
    int count = g_deferred_count.load();
    for (int i = done; i < count; ++i) {
      const auto node = static_cast<std::uint8_t>(g_deferred_node[i].load());
      const std::int64_t tick = g_deferred_tick[i].load();
      if (g_deferred_closed[i].load())
        g_writer->close(node, tick, g_deferred_result[i].load(), 0);
      else
        g_writer->release(node, tick, g_deferred_fd[i].load());
    }
    done = count;
    if (g_deferred_count.compare_exchange_strong(count, 0))
      return;
  }
}

// Runs `note(writer)` with the lock held; errno comes out as it went in.
template <typename Note> void record(Note &&note) {
  const int saved = errno;
  if (t_recording)
    return; // only a handler's release comes here; see defer()
  t_recording = true;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (take_file()) {
      write_deferred();
      note(*g_writer);
      write_deferred();
      look_for_interrupt_locked(g_tick.load());
      if (g_state == State::recording)
        stop_if_the_file_failed();
    }
  }
  t_recording = false;
  errno = saved;
}

// As a call starts: a Ctrl-C that came since the last call came before this
// one. `device`: the call is one to record, and may take the file.
void look_for_interrupt(bool device) {
  if (t_recording || !interrupt_signs_changed())
    return;
  const int saved = errno;
  t_recording = true;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (device)
      take_file();
    look_for_interrupt_locked(g_tick.load());
  }
  t_recording = false;
  errno = saved;
}

// A device let go of by a handler: written now, or after the record this
// thread was in the middle of.
void let_go(int fd, int node, bool closed, int result) {
  const std::int64_t tick = g_tick.load();
  if (!t_recording) {
    record([&](dapsession::Recording &w) {
      if (closed) {
        w.close(static_cast<std::uint8_t>(node), tick, result, errno);
        w.flush();
      } else {
        w.release(static_cast<std::uint8_t>(node), tick, fd);
      }
    });
    return;
  }
  const int slot = g_deferred_count.load();
  if (slot < kDeferredSlots) {
    g_deferred_fd[slot].store(fd);
    g_deferred_node[slot].store(node);
    g_deferred_result[slot].store(result);
    g_deferred_closed[slot].store(closed);
    g_deferred_tick[slot].store(tick);
    g_deferred_count.store(slot + 1);
  }
}

bool takes_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

mode_t mode_argument(int flags, va_list ap) { return takes_mode(flags) ? va_arg(ap, mode_t) : 0; }

template <typename Call> int open_path(const char *path, Call &&call) {
  const dapsession::PathClass target = dapsession::classify_path(path);
  const std::uint8_t node = target.node;
  const bool dapl = target.dapl;
  if (node != kNoNode)
    look_for_interrupt(true);
  const int fd = call();
  const int error = errno;
  if (node != kNoNode) {
    if (fd >= 0)
      mark(fd, node);
    const std::int64_t tick = g_tick.load();
    record([&](dapsession::Recording &w) { w.open(node, tick, fd, error); });
  } else if (dapl) {
    const std::int64_t tick = g_tick.load();
    record([&](dapsession::Recording &w) { w.dapl(tick, path, fd, error); });
  } else if (device_node(fd) >= 0) {
    // A device number we missed the end of (a raw close) now names another file.
    g_fd_node[fd].store(0, std::memory_order_release);
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

// A read or write that has just been made: noted with what came or went when
// the descriptor is a device, passed back as it was either way.
ssize_t transferred(int fd, const void *buffer, size_t count, ssize_t n, bool is_write) {
  const int node = device_node(fd);
  if (node < 0)
    return n;
  const int error = errno;
  const std::int64_t tick = g_tick.load();
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

namespace {

// A device call about to be made.
int starting(int fd) {
  if (device_node(fd) >= 0)
    look_for_interrupt(true);
  return fd;
}

} // namespace

DAPREC_EXPORT ssize_t read(int fd, void *buffer, size_t count) {
  starting(fd);
  return transferred(fd, buffer, count, next_read()(fd, buffer, count), false);
}

DAPREC_EXPORT ssize_t __read_chk(int fd, void *buffer, size_t count, size_t buffer_size) {
  starting(fd);
  return transferred(fd, buffer, count, next___read_chk()(fd, buffer, count, buffer_size), false);
}

DAPREC_EXPORT ssize_t write(int fd, const void *buffer, size_t count) {
  starting(fd);
  return transferred(fd, buffer, count, next_write()(fd, buffer, count), true);
}

DAPREC_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void *argument = va_arg(ap, void *);
  va_end(ap);
  starting(fd);
  const int rc = next_ioctl()(fd, request, argument);
  const int node = device_node(fd);
  if (node >= 0) {
    const int error = errno;
    const std::int64_t tick = g_tick.load();
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
  }
  return rc;
}

DAPREC_EXPORT int close(int fd) {
  const int node = device_node(fd);
  if (node >= 0)
    look_for_interrupt(true);
  if (node >= 0)
    g_fd_node[fd].store(0, std::memory_order_release);
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
    g_fd_node[newfd].store(0, std::memory_order_release);
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
  const clock_t value = next_times()(buffer);
  const int saved = errno;
  const auto tick = static_cast<std::int64_t>(value);
  g_tick.store(tick, std::memory_order_relaxed);
  if (!t_recording) {
    t_recording = true;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_state == State::recording) {
        g_writer->clock(tick);
        if (interrupt_signs_changed())
          look_for_interrupt_locked(tick);
        if (g_state == State::recording)
          stop_if_the_file_failed();
      } else if (g_state == State::idle) {
        if (g_early_count > 0 && g_early_value == tick) {
          ++g_early_count;
        } else {
          g_early_value = tick;
          g_early_count = 1;
        }
      }
    }
    t_recording = false;
  }
  errno = saved;
  return value;
}

DAPREC_EXPORT int system(const char *command) {
  if (!dapsession::is_loader_command(command))
    return next_system()(command);
  // Take the file before the loader starts, so that it stays ours: the
  // loader inherits LD_PRELOAD and would otherwise record itself.
  if (!t_recording) {
    // As in record(): a handler that lets go of a device meanwhile defers.
    t_recording = true;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      take_file();
      look_for_interrupt_locked(g_tick.load());
    }
    t_recording = false;
  }
  const int status = next_system()(command);
  const int error = errno;
  const std::int64_t tick = g_tick.load();
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
  if (!t_recording) { // as in system()
    t_recording = true;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      take_file();
      look_for_interrupt_locked(g_tick.load());
    }
    t_recording = false;
  }
  pid_t child = -1;
  const int error = next_posix_spawn()(&child, path, actions, attributes, argv, envp);
  if (error != 0) {
    const std::int64_t tick = g_tick.load();
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
  const std::int64_t tick = g_tick.load();
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
      g_absorb_held.store(true);
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
  const struct sigaction before = g_host_action[g_host_slot.load()];
  struct sigaction kernel_old {};
  int rc;
  if (action != nullptr && is_handler(*action)) {
    struct sigaction ours = *action;
    ours.sa_flags |= SA_SIGINFO;
    ours.sa_sigaction = call_host_handler;
    set_host_action(*action); // before ours can run with it
    rc = next_sigaction()(SIGINT, &ours, &kernel_old);
    if (rc != 0)
      set_host_action(before);
  } else {
    rc = next_sigaction()(SIGINT, action, &kernel_old);
    if (rc == 0 && action != nullptr)
      set_host_action(*action);
  }
  const bool ours_before =
      (kernel_old.sa_flags & SA_SIGINFO) != 0 && kernel_old.sa_sigaction == call_host_handler;
  if (rc == 0 && old_action != nullptr)
    *old_action = ours_before ? before : kernel_old;
  return rc;
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
