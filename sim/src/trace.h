// The trace: what the board saw, one event a line, in memory and (with
// DAPSIM_TRACE) in a file that reads the same even after the process died.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dapsim/board.h"

namespace dapsim {

class Trace {
public:
  // Appends an event that happened at `tick`; one like the last is merged
  // into it (its count grows). Keeps errno.
  void add(Tick tick, std::string text);
  // Empties the trace, the file too.
  void clear();
  // The whole trace as the control language shows it.
  std::string text() const;
  // From now on the trace is also written to `fd` (appended to what it
  // holds), starting with what the trace already has.
  void attach_file(int fd);
  // Brings the file's last line up to date.
  void flush_file() { file_flush(); }

private:
  static constexpr std::size_t kLimit = 200000;
  struct Event {
    Tick tick;
    std::string text;
    std::uint64_t count;
  };
  static std::string line(const Event &e);
  void file_add(Tick tick, const std::string &text);
  void file_flush(const std::string &next_line = std::string());

  std::vector<Event> events_;
  bool truncated_ = false;
  int fd_ = -1;
  off_t end_ = 0;
  off_t last_start_ = 0;
  // The file's last event, kept apart from events_ (which stops growing at
  // kLimit). While `last_stale_` its line in the file shows a lower count
  // than it has.
  std::optional<Event> last_;
  bool last_stale_ = false;
  std::chrono::steady_clock::time_point last_written_;
};

} // namespace dapsim
