// Who owns the session file. It belongs to the first process that has
// something to record: it holds an exclusive lock on it, so the shell and
// the loader that the host starts (they inherit LD_PRELOAD) stay out of it,
// and so does a child the host forks. The owner writes the end record at
// exit.
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

#include "recorder.h"

namespace daprec {
namespace {

enum class State { idle, recording, passive };
State g_state = State::idle;
dapsession::Recording *g_writer = nullptr;
const char *g_path = nullptr; // DAPREC_FILE as it was taken
bool g_sync = false;          // DAPREC_SYNC=1
// times() values seen before the file was taken: only the last run counts.
std::int64_t g_early_value = 0;
std::uint64_t g_early_count = 0;

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
  std::lock_guard<std::mutex> lock(recording_lock());
  if (g_state == State::recording && g_writer != nullptr) {
    g_writer->finish();
    if (g_sync)
      g_writer->sync();
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

// A relative DAPREC_FILE names a file of the folder the host started in,
// though the host may change folders before it records anything (octave-sim
// runs a script from the script's own folder); the processes it starts
// inherit the name made absolute.
__attribute__((constructor)) void anchor_file_name() {
  find_host_interrupt_flags();
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

// The parent of `pid` as /proc tells it; 0 when it cannot.
pid_t parent_of(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  char text[512];
  const int fd = next_open()(path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0)
    return 0;
  const ssize_t n = next_read()(fd, text, sizeof text - 1);
  next_close()(fd);
  if (n <= 0)
    return 0;
  text[n] = '\0';
  // "pid (command) state ppid ...": the command may hold spaces and ')'.
  const char *end = strrchr(text, ')');
  int parent = 0;
  char state = 0;
  if (end == nullptr || sscanf(end + 1, " %c %d", &state, &parent) != 2)
    return 0;
  return parent;
}

bool is_ancestor(pid_t pid) {
  for (pid_t p = getppid(); p > 1; p = parent_of(p))
    if (p == pid)
      return true;
  return pid == 1;
}

// The process holding the lock on `fd`'s file, from /proc/locks (a line
// "N: FLOCK ADVISORY WRITE <pid> <major>:<minor>:<inode> 0 EOF"); 0 when it
// is not to be found.
pid_t lock_holder(int fd) {
  struct stat file {};
  if (fstat(fd, &file) != 0)
    return 0;
  char wanted[64];
  snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
           static_cast<unsigned long long>(file.st_ino));
  const int locks = next_open()("/proc/locks", O_RDONLY | O_CLOEXEC, 0);
  if (locks < 0)
    return 0;
  char text[8192];
  std::size_t held = 0;
  pid_t holder = 0;
  pid_t maybe = 0;
  for (ssize_t n;
       holder == 0 && (n = next_read()(locks, text + held, sizeof text - 1 - held)) > 0;) {
    held += static_cast<std::size_t>(n);
    text[held] = '\0';
    char *line = text;
    for (char *newline; holder == 0 && (newline = strchr(line, '\n')) != nullptr;
         line = newline + 1) {
      *newline = '\0';
      int pid = 0;
      char kind[16], device[64];
      if (sscanf(line, "%*s %15s %*s %*s %d %63s", kind, &pid, device) != 3 ||
          strcmp(kind, "FLOCK") != 0)
        continue;
      // A stacked file system may show its own device there: the inode
      // alone then, the next best.
      const char *inode = strrchr(device, ':');
      if (strcmp(device, wanted) == 0)
        holder = pid;
      else if (inode != nullptr && strcmp(inode, strrchr(wanted, ':')) == 0)
        maybe = pid;
    }
    held = strlen(line);
    memmove(text, line, held);
    if (held == sizeof text - 1)
      held = 0; // no line is that long
  }
  next_close()(locks);
  return holder != 0 ? holder : maybe;
}

// Another process records to the file: said once, unless it is the one that
// started us (the host's shell and loader inherit LD_PRELOAD).
void say_who_records(int fd, const char *path) {
  const pid_t holder = lock_holder(fd);
  if (holder <= 0 || is_ancestor(holder))
    return;
  char command[64] = "?";
  char where[64];
  snprintf(where, sizeof where, "/proc/%d/comm", static_cast<int>(holder));
  if (const int comm = next_open()(where, O_RDONLY | O_CLOEXEC, 0); comm >= 0) {
    const ssize_t n = next_read()(comm, command, sizeof command - 1);
    command[n > 0 ? n : 0] = '\0';
    if (char *newline = strchr(command, '\n'); newline != nullptr)
      *newline = '\0';
    next_close()(comm);
  }
  char line[4352];
  snprintf(line, sizeof line,
           "daprec: %s is being recorded by process %d (%s); process %d records nothing\n", path,
           static_cast<int>(holder), command, static_cast<int>(getpid()));
  say(line);
}

} // namespace

void say(const char *text) { [[maybe_unused]] long rc = syscall(SYS_write, 2, text, strlen(text)); }

// The file keeps what was written whole before the failure.
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

bool recording() { return g_state == State::recording; }

bool sync_at_close() { return g_sync; }

dapsession::Recording &file() { return *g_writer; }

void note_early_tick(std::int64_t tick) {
  if (g_state != State::idle)
    return;
  if (g_early_count > 0 && g_early_value == tick) {
    ++g_early_count;
  } else {
    g_early_value = tick;
    g_early_count = 1;
  }
}

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
    say_who_records(fd, path);
    next_close()(fd);
    return false;
  }
  if (ftruncate(fd, 0) != 0) {
    next_close()(fd);
    say("daprec: cannot empty DAPREC_FILE; nothing is recorded\n");
    return false;
  }
  g_path = strdup(path);
  const char *sync = getenv("DAPREC_SYNC");
  g_sync = sync != nullptr && strcmp(sync, "1") == 0;
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

} // namespace daprec
