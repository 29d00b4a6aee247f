// The simulated board as the C library's interposers see it: one object that
// wires the units together and holds the one lock.
//
//   clock.h         the clock, virtual and real
//   device_nodes.h  the device nodes: descriptors, buffers, faults
//   board_model.h   the board the task behaviours see, and its DAPL interpreter
//   host.h          the host's process world: interrupts, children
//   loader.h        the board loader's runs
//   trace.h         the trace, in memory and in its file
//   replay.h        a recorded session played back in the board model's place
//
// The interposers in interpose.cpp call the public entry points below; each
// takes the lock, does its work, lets go, and only then raises a SIGINT that
// a scenario scheduled: the host's handler calls back into us (dup2, close,
// signal) and must never find the lock held by the thread it interrupted.
#pragma once

#include <spawn.h>

#include <sys/times.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "board_model.h"
#include "clock.h"
#include "device_nodes.h"
#include "host.h"
#include "loader.h"
#include "real.h"
#include "replay.h"
#include "trace.h"

namespace dapsim {

// Where we serve the DAPL directory (dapsession::kDaplDirectory) from.
const std::string &dapl_folder();

class Simulator final : private Clock::Listener,
                        private BoardModel::Surroundings,
                        private Replay::Surroundings {
public:
  static Simulator &get();

  // Device channels (device_calls.cpp). Each returns what the system call
  // returns, errno set.
  int open_device(int node);
  ssize_t read_device(int fd, void *buffer, size_t count);
  ssize_t write_device(int fd, const void *buffer, size_t count);
  int ioctl_device(int fd, unsigned long request, void *argument);
  int close_device(int fd);
  // `fd` was a device channel and now points elsewhere (dup2/dup3 onto it).
  void released(int fd);
  // The C library just handed out `fd` for another file: a device channel on
  // that number was closed in a way we did not see (close_range, a raw
  // system call), and the number is no longer ours.
  void reclaimed(int fd);

  // `caller`: where the host called from (a replay asks whose read it was).
  clock_t times(struct tms *buffer, const void *caller = nullptr);
  // A sleep of `microseconds`; `label` and `shown` make its trace line.
  // Returns the microseconds left when an interrupt cut it short, else 0.
  std::int64_t sleep(std::int64_t microseconds, const char *label, long long shown);

  // The board loader (loader.cpp). Its command line: our stand-in runs in
  // its place, as a child of the host, through the C library's system().
  int run_loader(const char *command_line);
  // The same started as the host starts it with posix_spawn of /bin/sh -c:
  // what posix_spawn returns. The run is over once the host has waited for
  // the child: loader_waited() then gives the status the host is to see.
  int spawn_loader(pid_t *pid, const char *command_line, const posix_spawn_file_actions_t *actions,
                   const posix_spawnattr_t *attributes, char *const environment[]);
  // `pid` ended with *status: when it was a loader's run, the run is
  // finished and *status is what the host sees.
  void loader_waited(pid_t pid, int *status);
  // Whether a loader run started with posix_spawn still waits for the host:
  // lock-free, as the host may wait for its children in a signal handler.
  bool loaders_spawned() const { return loaders_spawned_.load() > 0; }

  // Whether the scenario has the board loader missing (what stat finds at
  // its path follows it; interpose_files.cpp).
  bool loader_missing();

  // A file of the DAPL directory was opened (its name as the host gave it):
  // `result` is what the open returned, `error` its errno.
  void replay_dapl(const char *path, int result, int error);

  // One control command; false with the message in *reply when refused.
  bool command(const std::string &line, std::string *reply);
  // Control commands from DAPSIM_SCRIPT.
  void run_script(const char *path);
  // Brings the trace file's last line up to date (at exit).
  void flush_trace_file();

private:
  Simulator();

  // Board-to-host data the scenario scheduled, or an interrupt.
  struct Action {
    int node = kBinaryNode;
    std::vector<std::uint8_t> bytes;
    bool sigint = false;
    Delivery delivery = Delivery::handler;
  };
  struct Rule {
    std::string line;
    Tick after = 0;
    Action action;
  };

  // Runs `work` with the model locked; what fell due meanwhile (interrupts,
  // children) reaches the host after the lock is let go.
  template <typename F> auto locked(F &&work);
  // A call on a number the host took for a device: `work(node)` runs with
  // the model locked and the clock brought up to date. Nothing comes back
  // when the number stopped being a device before we got the lock.
  template <typename Work> auto on_device(int fd, Work &&work);
  // True while this thread holds the model's lock.
  static bool &holds_lock();

  // Everything below runs with mutex_ held.
  void power_on();
  void count_operation() override;
  // A device call that fails: traced as `<what> -> -1 errno=E`, counted, errno
  // set; returns -1.
  int failed_operation(const std::string &what, int error) override;
  void schedule_sigint(Delivery delivery) override;
  void schedule_child();
  void perform(const Action &action);
  bool advance_to(std::int64_t target_us) { return clock_.advance_to(target_us, *this); }
  void sync_real_clock() { clock_.sync_real(*this); }

  // Clock::Listener: the scenario and the board as time passes.
  bool interrupted() const override { return host_.handler_interrupt_due(); }
  bool busy() const override { return !board_.idle(); }
  Tick next_event() const override;
  void on_tick(Tick tick) override;

  // BoardModel::Surroundings.
  Tick now() const override { return clock_.now(); }
  void to_host(int node, const std::uint8_t *bytes, std::size_t count) override;
  std::size_t host_room() const override { return devices_.room(kBinaryNode); }
  void trace(std::string text) override { trace_.add(now(), std::move(text)); }
  void line_arrived(const std::string &line) override;

  // Replay::Surroundings (trace and the operations above too).
  void accepted(int node, const std::uint8_t *bytes, std::size_t count) override {
    devices_.accepted(node, bytes, count);
  }
  void clock_to(Tick tick, bool fresh) override { clock_.catch_up(tick, fresh); }
  bool read_by_commands(const void *caller) const override {
    return devices_.open_count() > 0 || host::in_command(caller);
  }

  // The board model's answers to device calls (device_calls.cpp); a replay
  // answers in its place. An open answers an errno, 0 for a
  // descriptor, or -1 for descriptor 0.
  int model_open(int node);
  ssize_t model_read(int node, void *buffer, size_t count);
  ssize_t model_write(int node, const std::uint8_t *bytes, size_t count);
  int model_ioctl(int node, unsigned long request, void *argument);
  ssize_t bad_buffer(int node, dapsession::Kind kind);
  // A slow driver takes its time before it serves an operation on `node`
  // (none when negative). Takes the lock itself: a real wait sleeps without it.
  void take_time(int node);
  // A handler that runs while this thread is inside a device call (it holds
  // the lock) may let go of a device; the bookkeeping waits until the call
  // is done with the model.
  void defer_release(int fd, bool closed);
  void settle_deferred();

  // The loader's run (loader.cpp).
  LoaderRun prepare_loader(const char *command_line);
  int finish_loader(const LoaderRun &run, int status, int error);

  // The control language (control.cpp).
  bool control(const std::string &line, std::string *reply);
  void reopen_as_found(int node);

  // A recorded session played in the board model's place (replay.h).
  bool replay_start(const std::string &path, bool strict, std::string *reply);
  void replay_end(bool always);
  void replay_end_at_exit();
  // False when a strict replay has stopped: the close fails with EIO.
  bool replay_close(int node, bool closed) { return !replay_ || replay_->close(node, closed); }

  std::mutex mutex_;

  Clock clock_;
  DeviceNodes devices_;
  BoardModel board_{*this};
  HostEvents host_;
  Trace trace_;

  // Scenario.
  std::uint32_t default_seed_ = 1;
  bool default_real_clock_ = false;
  std::multimap<Tick, Action> scheduled_;
  std::vector<Rule> rules_;
  std::uint64_t operations_ = 0;
  LoaderScenario loader_;
  // Runs started with posix_spawn that the host has not waited for yet.
  std::map<pid_t, LoaderRun> spawned_loaders_;
  std::atomic<int> loaders_spawned_{0};

  // Replay: DAPSIM_REPLAY starts one at power-on.
  std::string default_replay_;
  bool default_replay_strict_ = false;
  std::unique_ptr<Replay> replay_;
  // Why DAPSIM_REPLAY's file was refused: the device nodes then fail to
  // open, so that the board model never passes for the rig.
  std::string replay_refused_;
};

template <typename F> auto Simulator::locked(F &&work) {
  using Result = decltype(work());
  std::optional<Delivery> raise_now;
  int children = 0;
  Result result{};
  // The work sets errno only when it fails; a call that succeeds leaves the
  // caller's errno as it was, as the C library does.
  const int entry_errno = errno;
  int saved_errno = 0;
  bool &holds = holds_lock();
  const bool outermost = !holds;
  holds = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    real::InsideSimulator inside;
    settle_deferred();
    errno = entry_errno;
    result = work();
    saved_errno = errno;
    if (replay_)
      replay_->interrupts_due();
    settle_deferred();
    raise_now = host_.take_sigint_due();
    children = host_.take_children_due();
  }
  if (outermost)
    holds = false;
  if (raise_now)
    host::raise_sigint(*raise_now);
  for (; children > 0; --children)
    host::end_a_child();
  errno = saved_errno;
  return result;
}

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

} // namespace dapsim
