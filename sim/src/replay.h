// A recorded session played back: where a replay stands. The device calls
// it answers and its verdict (replay_calls.cpp) and the reading of its file
// (replay_queues.cpp) are Simulator's, as they run with the model's lock held.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

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
std::string first_difference(int node, const std::vector<std::uint8_t> &expected,
                             const std::vector<std::uint8_t> &sent);

struct Replay {
  std::string path;
  bool strict = false;
  bool stopped = false; // strict, after the first difference
  bool limit_reached = false;
  int stopped_error = 0; // the recording's, when a write of its file failed
  int fd = -1;           // the file, read by every queue at its own place
  // The records of each channel, of the clock runs, of the DAPL opens, of
  // the loader runs and of the Ctrl-Cs, each read from the file as the
  // replay goes (the file was checked whole first): `ahead` holds those read and not yet
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

} // namespace dapsim
