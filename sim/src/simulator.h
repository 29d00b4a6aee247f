// The simulated board, its driver and its clock: one model behind one mutex.
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
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dapsim/board.h"
#include "session.h"

namespace dapsim {

enum Node : int { kTextNode = 0, kBinaryNode = 1 };
const char *node_name(int node);

// Which descriptor numbers are device channels: 0 = not ours, 1 = accel0,
// 2 = accel1. Lock-free so that the host's own descriptors never wait on the
// model.
constexpr int kFdSlots = 65536;
extern std::atomic<std::int8_t> g_fd_node[kFdSlots];
inline int device_node(int fd) {
  if (fd < 0 || fd >= kFdSlots)
    return -1;
  return g_fd_node[fd].load(std::memory_order_acquire) - 1;
}

// Counts what a SIGINT handler visibly does (a device channel closed or
// released, the SIGINT disposition changed), so that an injected interrupt
// can wait until the handler has acted.
extern std::atomic<std::uint64_t> g_sigint_activity;

// The DAPL directory as the commands name it, and where we serve it from.
inline constexpr char kDaplDirectory[] = "/home/labrig/matlab/intrfc/dap/";
const std::string &dapl_folder();

// The board loader as the commands run it, and where our stand-in for it is.
inline constexpr char kLoaderCommand[] = "/usr/src/linux/drivers/dap/comload";
// Set in the stand-in's environment by the command line that runs it: its
// exit status, and the mark by which the shell that runs it is known.
inline constexpr char kLoaderExitVariable[] = "DAPSIM_LOADER_EXIT";
const std::string &loader_folder();

class Simulator final : public Board {
public:
  static Simulator &get();

  // Device channels. Each returns what the system call returns, errno set.
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

  clock_t times(struct tms *buffer);
  // A sleep of `microseconds`; `label` and `shown` make its trace line.
  // Returns the microseconds left when an interrupt cut it short, else 0.
  std::int64_t sleep(std::int64_t microseconds, const char *label, long long shown);
  // The board loader's command line: our stand-in runs in its place, as a
  // child of the host, through the C library's system().
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

  // One control command; false with the message in *reply when refused.
  bool command(const std::string &line, std::string *reply);
  // Control commands from DAPSIM_SCRIPT.
  void run_script(const char *path);
  // Brings the trace file's last line up to date (at exit).
  void flush_trace_file();

  // Board, for the task behaviours (called with the lock held).
  Tick now() const override;
  void send_binary(const std::uint8_t *bytes, std::size_t count) override;
  using Board::send_binary;
  void send_text(const std::string &text) override;
  std::size_t binary_room() const override;
  std::size_t binary_input_size() const override;
  std::vector<std::uint8_t> take_binary_input(std::size_t max) override;
  std::int64_t variable(const std::string &name) const override;
  std::vector<std::int64_t> take_pipe(const std::string &name, std::size_t max) override;
  void record_output(int output, std::int16_t value) override;
  bool loaded() const override;
  std::mt19937 &random() override;
  void note(const std::string &text) override;
  bool running(const std::string &task) const override;

private:
  Simulator();

  static constexpr std::size_t kBinaryFifoSize = 65536;
  static constexpr std::size_t kTextFifoSize = 4096;
  static constexpr std::size_t kBinaryInputSize = 4096;
  static constexpr std::int64_t kMicrosecondsPerTick = 10000;
  // The virtual clock stops here (some 146,000 years in), well before its
  // arithmetic in microseconds could overflow, however often a scenario
  // advances it or the host sleeps for years.
  static constexpr std::int64_t kClockLimitUs = std::int64_t{1} << 62;
  static constexpr std::size_t kTraceLimit = 200000;

  struct IoctlFault {
    bool fail = false;
    int value = 0; // errno when failing, the return value otherwise
    // Requests still to answer this way; none: every one is.
    std::optional<std::uint64_t> left;
  };
  struct NodeFaults {
    std::optional<int> missing;
    bool openzero = false;
    std::map<unsigned long, IoctlFault> ioctl;
    std::optional<std::size_t> shortwrite;
    // Writes still to cut short; none: every write is.
    std::optional<std::uint64_t> shortwrite_left;
    std::optional<int> writefail;
    // Writes still to fail; none: every write does.
    std::optional<std::uint64_t> writefail_left;
    std::optional<int> readfail;
    std::optional<std::size_t> shortread;
    // Reads still to cut short; none: every read is.
    std::optional<std::uint64_t> shortread_left;
    // Ticks the driver takes over each operation, and how many operations
    // are still to take them (none: every one does).
    std::optional<std::int64_t> slow;
    std::optional<std::uint64_t> slow_left;
  };
  // How an injected SIGINT reaches the host: so that the handler installed
  // with signal() runs, or as a Ctrl-C at the terminal would (process-directed,
  // taken by whichever thread the host lets take it).
  // handler: to the plug-in's handler, on a helper thread if the caller
  // blocks SIGINT; host: to the process, as Octave takes a real Ctrl-C;
  // within: on the calling thread in the middle of the device call, as a
  // real Ctrl-C may land on a host that runs handlers where it interrupts.
  enum class Delivery { handler, host, within };
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
  struct RunningTask {
    std::string name;
    std::unique_ptr<Task> task;
  };
  struct Event {
    Tick tick;
    std::string text;
    std::uint64_t count;
  };

  // Everything below runs with mutex_ held.
  template <typename F> auto locked(F &&work);
  template <typename Work> auto on_device(int fd, Work &&work);
  // A slow driver takes its time before it serves an operation on `node`
  // (none when negative). Takes the lock itself: a real wait sleeps without it.
  void take_time(int node);
  void raise_sigint(Delivery delivery);
  void end_a_child();
  // A handler that runs while this thread is inside a device call (it holds
  // the lock) may let go of a device; the bookkeeping waits until the call
  // is done with the model.
  void defer_release(int fd, bool closed);
  void settle_deferred();

  void power_on();
  void board_reset();
  void trace(std::string text);
  void trace_clear();
  std::string event_line(const Event &e) const;
  void trace_file_add(Tick tick, const std::string &text);
  void trace_file_flush(const std::string &next_line = std::string());
  void count_operation();
  // A device call that fails: traced as `<what> -> -1 errno=E`, counted, errno
  // set; returns -1.
  int failed_operation(const std::string &what, int error);
  void schedule_sigint(Delivery delivery);
  void schedule_child();

  void sync_real_clock();
  // False when an interrupt stopped the clock before `target_us`.
  bool advance_to(std::int64_t target_us);
  void on_new_tick(Tick tick);
  Tick next_event_tick() const;
  void perform(const Action &action);
  void push_fifo(int node, const std::uint8_t *bytes, std::size_t count);

  // The DAPL interpreter.
  void dapl_receive(const std::uint8_t *bytes, std::size_t count);
  void dapl_line(const std::string &raw);
  void dapl_error(const std::string &reason, const std::string &line);
  void start_task(const TaskDefinition &definition);
  void stop_task(const std::string &name);
  void stop_all_tasks();
  const TaskDefinition *definition(const std::string &name) const;
  void for_each_task(const char *hook, const std::function<void(Task &)> &call);

  // The control language (control.cpp).
  bool control(const std::string &line, std::string *reply);

  // Replay of a recorded session (replay.cpp): the device calls are served
  // from the file instead of the board model.
  struct Replay {
    std::string path;
    bool strict = false;
    bool stopped = false; // strict, after the first difference
    bool limit_reached = false;
    int stopped_error = 0; // the recording's, when a write of its file failed
    int fd = -1;           // the file, read by every queue at its own place
    // The records of each channel, of the clock runs, of the DAPL opens, of
    // the loader runs and of the Ctrl-Cs, each read from the file as the
    // replay goes (the
    // file was checked whole first): `ahead` holds those read and not yet
    // played, at most the lenient look-ahead's worth; `used` counts the
    // repeats of the first already served.
    struct Queue {
      int which = 0; // the channel's node; 2 clock, 3 DAPL opens, 4 loader runs, 5 Ctrl-Cs
      std::unique_ptr<dapsession::Reader> reader;
      std::deque<dapsession::Record> ahead;
      dapsession::Record taken; // the record a call was last served from
      bool done = false;
      std::uint64_t used = 0;
      std::size_t next = 0;     // records passed
      std::size_t total = 0;    // records in the file
      std::uint64_t calls = 0;  // calls they hold, repeats counted
      std::uint64_t passed = 0; // of those, played or skipped
    };
    Queue channel[2];
    Queue clock;
    Queue dapl;
    Queue loader;
    Queue interrupts; // recorded Ctrl-Cs (replay_interrupts.cpp)
    ~Replay();
    std::uint64_t operations[2] = {0, 0};
    std::uint64_t writes[2] = {0, 0};
    std::uint64_t differences = 0;
    bool ended[2] = {false, false};
    // For the verdict at the end.
    std::uint64_t recorded = 0; // device calls, DAPL opens and loader runs
    std::uint64_t played = 0;
    std::string first_difference;
    std::string unmatched; // the first call with no recorded counterpart
    bool active = false;   // the host made a call since it started
    // The next recorded Ctrl-C is due once the other queues have played
    // the records before it in the file, and no loader run is under way.
    bool in_loader = false;
  };
  bool replay_start(const std::string &path, bool strict, std::string *reply);
  std::string replay_status() const;
  // Ends a replay with its verdict: one line on standard error, and a line
  // "exact" or "differs" appended to the file DAPSIM_REPLAY_VERDICT names.
  // `always`: even when the host never used it.
  void replay_end(bool always);
  void replay_end_at_exit();
  // The queue's record `k` places ahead, read from the file as needed;
  // nullptr past its last. replay_pop() passes the first.
  const dapsession::Record *replay_peek(Replay::Queue &q, std::size_t k);
  void replay_pop(Replay::Queue &q);
  void replay_unmatched(const std::string &call);
  void replay_difference(const std::string &what);
  const dapsession::Record *replay_expect(int node, dapsession::Kind kind, unsigned long request,
                                          const std::string &operation);
  void replay_clock_to(const dapsession::Record &record);
  // Each returns nothing when no replay runs; otherwise what the call returns.
  // replay_open: an errno, 0 (a descriptor), or -1 (descriptor 0).
  std::optional<int> replay_open(int node);
  std::optional<ssize_t> replay_read(int node, void *buffer, size_t count);
  std::optional<ssize_t> replay_write(int node, const std::uint8_t *bytes, size_t count);
  std::optional<int> replay_ioctl(int node, unsigned long request, void *argument);
  // False when a strict replay has stopped: the close fails with EIO.
  bool replay_close(int node, bool closed);
  std::optional<clock_t> replay_times(struct tms *buffer);
  // What times() answers for `value`: the caller's buffer holds it as user
  // time, the rest 0; the value itself is returned.
  static clock_t answer_times(struct tms *buffer, clock_t value);
  // The recorded run's status as system() returned it (and its errno), or
  // nothing when the recording ran the loader no more.
  std::optional<int> replay_loader(const char *command_line, int *error);
  void replay_dapl_open(const char *path, int result, int error);
  // Schedules the recorded Ctrl-Cs whose place the replay has reached.
  void replay_interrupts_due();
  // A read or write the host gave a buffer that is no buffer: the recorded
  // call refused it too.
  void replay_bad_buffer(int node, dapsession::Kind kind);

public:
  // A file of the DAPL directory was opened (its name as the host gave it):
  // `result` is what the open returned, `error` its errno.
  void replay_dapl(const char *path, int result, int error);

private:
  std::mutex mutex_;

  // Scenario.
  std::uint32_t default_seed_ = 1;
  std::uint32_t seed_ = 1;
  std::mt19937 random_;
  bool default_real_clock_ = false;
  NodeFaults faults_[2];
  std::vector<std::int32_t> freespace_;
  std::size_t freespace_next_ = 0;
  std::optional<Tick> sigint_tick_;
  Delivery sigint_tick_delivery_ = Delivery::handler;
  std::optional<std::uint64_t> sigint_op_;
  Delivery sigint_op_delivery_ = Delivery::handler;
  std::multimap<Tick, Action> scheduled_;
  std::vector<Rule> rules_;
  std::optional<Delivery> sigint_due_;
  std::optional<Tick> child_tick_;
  std::optional<std::uint64_t> child_op_;
  int children_due_ = 0;
  // What the board loader's stand-in does: exit with this status, or be
  // missing altogether (the shell's 127).
  int loader_exit_ = 0;
  bool loader_missing_ = false;
  // The stand-in ends by SIGINT, as a Ctrl-C at the terminal ends the loader.
  bool loader_interrupted_ = false;
  // A SIGINT is raised on the calling thread just before the next loader run
  // starts: on a thread that blocks SIGINT, a Ctrl-C the host has not taken yet.
  bool sigint_at_loader_ = false;
  // How a run of the loader goes: the stand-in's shell line (empty when a
  // replay says it could not start) and what a replay recorded of it.
  struct LoaderRun {
    std::string command_line;
    std::string shell_line;
    std::optional<int> recorded;
    int recorded_errno = 0;
  };
  LoaderRun prepare_loader(const char *command_line);
  int finish_loader(const LoaderRun &run, int status, int error);
  // Runs started with posix_spawn that the host has not waited for yet.
  std::map<pid_t, LoaderRun> spawned_loaders_;
  std::atomic<int> loaders_spawned_{0};

  // Clock.
  bool real_clock_ = false;
  std::int64_t now_us_ = 0;
  int reads_per_tick_ = 4;
  int reads_in_tick_ = 0;
  clock_t real_origin_ = 0;

  // Driver and board.
  std::deque<std::uint8_t> fifo_[2];
  std::deque<std::uint8_t> binary_input_;
  std::vector<std::uint8_t> written_[2];
  std::int32_t timeout_[2] = {0, 0};
  std::uint64_t operations_ = 0;
  int open_count_ = 0;
  // An open that "returned 0" under the openzero fault: descriptor 0 stands
  // for the device until it is closed, and the host's real descriptor 0
  // (standard input) is never touched on its behalf.
  bool zero_is_device_ = false;
  bool loaded_ = false;
  std::string partial_line_;
  std::optional<TaskDefinition> defining_;
  std::vector<TaskDefinition> definitions_;
  std::vector<RunningTask> tasks_;
  std::map<std::string, std::int64_t> variables_;
  std::map<std::string, std::deque<std::int64_t>> pipes_;
  std::map<int, std::vector<std::int16_t>> played_;

  // Replay: DAPSIM_REPLAY starts one at power-on.
  std::string default_replay_;
  bool default_replay_strict_ = false;
  std::unique_ptr<Replay> replay_;
  // Why DAPSIM_REPLAY's file was refused: the device nodes then fail to
  // open, so that the board model never passes for the rig.
  std::string replay_refused_;

  // Trace.
  std::vector<Event> events_;
  bool trace_truncated_ = false;
  int trace_fd_ = -1;
  off_t trace_end_ = 0;
  off_t trace_last_start_ = 0;
  // The file's last event, kept apart from events_ (which stops growing at
  // kTraceLimit). While `trace_last_stale_` its line in the file shows a
  // lower count than it has.
  std::optional<Event> trace_last_;
  bool trace_last_stale_ = false;
  std::chrono::steady_clock::time_point trace_last_written_;
};

} // namespace dapsim
