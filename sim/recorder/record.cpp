// The calls noted in the session file, one at a time under one lock, by the
// thread that made them; a Ctrl-C noted where it came, between them.
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "deferred.h"
#include "recorder.h"

namespace daprec {
namespace {

std::mutex g_mutex;
// The last value times() gave the host: the tick of what it does next.
std::atomic<std::int64_t> g_tick{-1};

// A device let go of (dup2, close) while this thread is inside the
// recorder, or while any thread is inside a device call or times(), is kept
// here and written after the record of that call: a signal handler that
// releases a channel mid-call leaves a file that says "the call, the Ctrl-C,
// then the release", as a replay must play it. The record takes the tick
// of the moment it is written, which is the tick the command saw (a handler
// that ran inside times() let go at the value times() then returned).
__attribute__((tls_model("initial-exec"))) thread_local bool t_recording = false;
std::atomic<int> g_calls_in_progress{0};
struct Release {
  int fd;
  int node;
  int result;
  int error;
  bool closed;
};
dapsim::Deferred<Release, 16> g_deferred;
// Releases that found every slot taken while this thread held the lock:
// not in the file, and said so.
std::atomic<unsigned> g_releases_lost{0};

// A device closed: the block in progress goes to the kernel, and to the
// disk when asked.
void device_closed(dapsession::Recording &w) {
  w.flush();
  if (sync_at_close())
    w.sync();
}

// A crash keeps what reached the kernel: inside a long call the block in
// progress goes at least once a second of the host's clock, looked at with
// each record. The coarse monotonic clock is read without a system call
// (vDSO), and its grain of a few milliseconds is plenty for that.
std::int64_t g_flushed_ns = 0;
constexpr std::int64_t kFlushEveryNs = 1000000000;

void flush_if_due() {
  struct timespec now {};
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0)
    return;
  const std::int64_t ns = std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
  if (ns - g_flushed_ns < kFlushEveryNs)
    return;
  g_flushed_ns = ns;
  file().flush();
}

// With the lock held: a Ctrl-C that has reached the command since the last
// look, noted when the file is being written.
void note_interrupt_locked(std::int64_t tick) {
  dapsession::Interrupt means{};
  if (!new_interrupt(recording(), &means))
    return;
  file().interrupt(tick, means);
  stop_if_the_file_failed();
}

// With the lock held. Dropped when the file is not being written.
void write_deferred() {
  // Looked at before it is taken: each recorded call passes here.
  if (g_releases_lost.load(std::memory_order_relaxed) != 0 && recording()) {
    const unsigned lost = g_releases_lost.exchange(0);
    char line[192];
    snprintf(line, sizeof line,
             "daprec: %u device release%s by a signal handler not recorded (more than 16 in one "
             "call); the session will not replay exact from here\n",
             lost, lost == 1 ? "" : "s");
    say(line);
  }
  if (!g_deferred.pending())
    return; // almost always: no handler let go of a device meanwhile
  g_deferred.drain([](const Release &r) {
    if (!recording())
      return;
    const std::int64_t tick = g_tick.load();
    const auto node = static_cast<std::uint8_t>(r.node);
    if (r.closed) {
      file().close(node, tick, r.result, r.error);
      device_closed(file());
    } else {
      file().release(node, tick, r.fd);
    }
  });
}

// Runs `locked()` as this thread's only work inside the recorder, the lock
// held; errno comes out as it went in. Nothing when the thread is inside
// already.
template <typename Locked> void inside(Locked &&locked) {
  if (t_recording)
    return;
  const int saved = errno;
  t_recording = true;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    locked();
    write_deferred();
    if (recording())
      flush_if_due();
    if (recording())
      stop_if_the_file_failed();
  }
  t_recording = false;
  errno = saved;
}

} // namespace

std::mutex &recording_lock() { return g_mutex; }

std::int64_t current_tick() { return g_tick.load(); }

void record_with(void (*call)(void *, dapsession::Recording &), void *note) {
  inside([&] {
    if (!take_file())
      return;
    call(note, file());
    // A Ctrl-C whose handler let go of a device mid-call comes before
    // that release (inside() writes it next).
    note_interrupt_locked(g_tick.load());
    if (recording())
      stop_if_the_file_failed();
  });
}

void look_for_interrupt(bool device) {
  // Inside a call, a Ctrl-C is noted after the call's record.
  if (t_recording || g_calls_in_progress.load(std::memory_order_relaxed) > 0 ||
      !interrupt_signs_changed())
    return;
  inside([&] {
    if (device)
      take_file();
    note_interrupt_locked(g_tick.load());
  });
}

void note_tick(std::int64_t tick) {
  g_tick.store(tick, std::memory_order_relaxed);
  inside([&] {
    if (recording()) {
      file().clock(tick);
      if (interrupt_signs_changed())
        note_interrupt_locked(tick);
      if (recording())
        stop_if_the_file_failed();
    } else {
      note_early_tick(tick);
    }
  });
}

void take_file_before_loader() {
  // As in record(): a handler that lets go of a device meanwhile defers.
  inside([] {
    take_file();
    note_interrupt_locked(g_tick.load());
  });
}

CallInProgress::CallInProgress() { g_calls_in_progress.fetch_add(1, std::memory_order_relaxed); }
CallInProgress::~CallInProgress() { g_calls_in_progress.fetch_sub(1, std::memory_order_relaxed); }

void let_go(int fd, int node, bool closed, int result) {
  const int error = errno;
  if (t_recording || g_calls_in_progress.load(std::memory_order_relaxed) > 0) {
    if (g_deferred.push({fd, node, result, result < 0 ? error : 0, closed}))
      return;
    if (t_recording) {
      g_releases_lost.fetch_add(1); // full, and the lock is this thread's own
      return;
    }
    // Full: written now, out of order rather than never.
  }
  const std::int64_t tick = g_tick.load();
  record([&](dapsession::Recording &w) {
    if (closed) {
      w.close(static_cast<std::uint8_t>(node), tick, result, result < 0 ? error : 0);
      device_closed(w);
    } else {
      w.release(static_cast<std::uint8_t>(node), tick, fd);
    }
  });
}

} // namespace daprec
