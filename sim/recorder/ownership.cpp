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
#include <sys/syscall.h>
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

void say(const char *text) { [[maybe_unused]] long rc = syscall(SYS_write, 2, text, strlen(text)); }

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

} // namespace

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
