// A recorded session played back in the board model's place: the host's
// device calls are matched, in order and channel by channel, with the calls
// the recorder saw on a rig, and answered as they were answered there. It
// reaches the simulator only through its Surroundings, with the model's
// lock held, like the board it stands in for.
//
//   replay.cpp             the replay's state, the verdict
//   replay_queues.cpp      the session file, read as queues
//   replay_calls.cpp       the host's calls matched and answered
//   replay_interrupts.cpp  recorded Ctrl-Cs and refused buffers
#pragma once

#include <sys/times.h>
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dapsim/board.h"
#include "host.h"
#include "session.h"

namespace dapsim {

// The queues after the two channels' (numbered by their node).
constexpr int kClockQueue = 2, kDaplQueue = 3, kLoaderQueue = 4, kInterruptQueue = 5;
constexpr int kQueues = 6;
// The queue a record is played from; -1 for none.
int queue_of(const dapsession::Record &r);

// Where what was sent first departs from what was recorded: "byte N:
// expected 0x.. got 0x.. (recorded ..., sent ...)", bytes counted from 1;
// empty when the two are the same. `node` says how bytes are shown.
std::string where_differs(int node, const std::vector<std::uint8_t> &expected,
                          const std::vector<std::uint8_t> &sent);

class Replay {
public:
  // The trace and the operation count, the bytes a node took from the host,
  // the clock, and interrupts for the host.
  class Surroundings {
  public:
    virtual void trace(std::string text) = 0;
    virtual void count_operation() = 0;
    // A device call that fails: traced, counted, errno set; returns -1.
    virtual int failed_operation(const std::string &what, int error) = 0;
    virtual void accepted(int node, const std::uint8_t *bytes, std::size_t count) = 0;
    // The clock moves on to `tick`, never back; `fresh` starts its reads anew.
    virtual void clock_to(Tick tick, bool fresh) = 0;
    virtual void schedule_sigint(Delivery delivery) = 0;
    // Whether a clock read came from the commands at work (a device open,
    // or a call from a plug-in) rather than from the host's own code.
    virtual bool read_by_commands(const void *caller) const = 0;

  protected:
    ~Surroundings() = default;
  };

  // The file checked whole and opened for playing; nothing, with the reason
  // in *reply, when it is refused. On success *reply counts its records.
  static std::unique_ptr<Replay> start(const std::string &path, bool strict, Surroundings &out,
                                       std::string *reply);
  ~Replay();
  // Traces that it started, and what the recording says of itself.
  void announce();
  std::string status() const;
  // One line on standard error, and a line "exact" or "differs" appended to
  // the file DAPSIM_REPLAY_VERDICT names. `always`: even when the host
  // never used the replay.
  void verdict(bool always);

  // Device calls: what the call returns, as the recording has it. An open
  // answers an errno, 0 for a descriptor, or -1 for descriptor 0.
  int open(int node);
  ssize_t read(int node, void *buffer, size_t count);
  ssize_t write(int node, const std::uint8_t *bytes, size_t count);
  int ioctl(int node, unsigned long request, void *argument);
  // False when a strict replay has stopped: the close fails with EIO.
  bool close(int node, bool closed);
  // A read or write the host gave a buffer that is no buffer: the recorded
  // call refused it too.
  void bad_buffer(int node, dapsession::Kind kind);
  // Nothing once the recording's clock runs are over.
  // `caller`: where the host called from, for the verdict past the end.
  std::optional<clock_t> times(struct tms *buffer, const void *caller);
  // A loader run starts: the recorded run's status as system() returned it
  // (and its errno), or nothing when the recording ran the loader no more.
  std::optional<int> loader_run(const char *command_line, int *error);
  void loader_over() { in_loader = false; }
  // A file of the DAPL directory was opened here.
  void dapl_open(const char *path, int result, int error);
  // Schedules the recorded Ctrl-Cs whose place the replay has reached.
  void interrupts_due();

private:
  // The records of each channel, of the clock runs, of the DAPL opens, of
  // the loader runs and of the Ctrl-Cs, each read from the file as the
  // replay goes (the file was checked whole first): `ahead` holds those
  // read and not yet played, at most the lenient look-ahead's worth;
  // `used` counts the repeats of the first already served.
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

  explicit Replay(Surroundings &out) : out_(out) {}
  // The queue's record `k` places ahead, read from the file as needed;
  // nullptr past its last. pop() passes the first.
  const dapsession::Record *peek(Queue &q, std::size_t k);
  void pop(Queue &q);
  void note_unmatched(const std::string &call);
  void difference(const std::string &what);
  const dapsession::Record *expect(int node, dapsession::Kind kind, unsigned long request,
                                   const std::string &operation);
  void clock_to(const dapsession::Record &record);
  // Whether an unfinished recording has been played to its end: a call
  // that finds its queue empty then comes after the recording's end.
  bool after_the_end();

  Surroundings &out_;
  std::string path;
  bool strict = false;
  bool stopped = false; // strict, after the first difference
  bool limit_reached = false;
  int stopped_error = 0; // the recording's, when a write of its file failed
  // The file ends without its end record: calls after its end cannot be
  // answered from it and fail with EIO (`over`), counted in `after_end`.
  bool unfinished = false;
  bool over = false;
  std::uint64_t after_end = 0;
  int fd = -1; // the file, read by every queue at its own place
  // The queues read the file side by side: what one has read, the others
  // take from here (declared first: it outlives their readers).
  dapsession::BlockCache blocks;
  Queue channel[2];
  Queue clock;
  Queue dapl;
  Queue loader;
  Queue interrupts; // recorded Ctrl-Cs (replay_interrupts.cpp)
  std::uint64_t operations[2] = {0, 0};
  std::uint64_t writes[2] = {0, 0};
  std::uint64_t differences = 0;
  bool ended[2] = {false, false};
  // For the verdict at the end.
  std::uint64_t recorded = 0; // device calls, DAPL opens and loader runs
  std::uint64_t played = 0;
  std::uint64_t clock_beyond = 0; // the commands' clock reads after the recording's last value
  std::uint64_t host_clock_beyond = 0; // the host's own (a plot's library, say)
  std::string first_difference;
  std::string unmatched; // the first call with no recorded counterpart
  bool active = false;   // the host made a call since it started
  // The next recorded Ctrl-C is due once the other queues have played
  // the records before it in the file, and no loader run is under way.
  bool in_loader = false;
};

} // namespace dapsim
