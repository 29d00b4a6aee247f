// A recording in progress: the recorder's calls, as they come, turned into
// records and handed to the one Writer.
//
// Consecutive identical records without data become one record and a
// repeat count; consecutive identical times() values become one clock
// record, which an open, a close, a release or an interrupt ends so that a
// command call's times() values stay with it. At `limit` bytes the
// recording stops with one message on standard error and a limit record in
// the file. finish() (exit) writes the end record; records that come after
// it take it back and the next finish() writes it again. When a write of
// the file fails, the recording stops there, silently (see Writer):
// failed_error() and kept() tell the owner.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "format.h"
#include "writer.h"

namespace dapsession {

// The size at which a recording stops (DAPREC_LIMIT may lower or raise it).
inline constexpr std::uint64_t kDefaultLimit = std::uint64_t{256} << 20;

class Recording {
public:
  using WriteFn = Writer::WriteFn;
  // Takes `fd` (the header is written at once) and closes it never: the
  // owner does. `write_fn` is the C library's write (the recorder must not
  // go through its own interposer).
  Recording(int fd, std::uint64_t limit, std::uint32_t ticks_per_second, WriteFn write_fn,
            std::size_t buffer_size = std::size_t{1} << 20);

  void open(std::uint8_t node, std::int64_t tick, int result, int error);
  void read(std::uint8_t node, std::int64_t tick, std::size_t asked, ssize_t result, int error,
            const void *bytes);
  void write(std::uint8_t node, std::int64_t tick, std::size_t count, ssize_t result, int error,
             const void *bytes);
  void ioctl(std::uint8_t node, std::int64_t tick, unsigned long request, int result, int error,
             std::int32_t value);
  void close(std::uint8_t node, std::int64_t tick, int result, int error);
  void release(std::uint8_t node, std::int64_t tick, int fd);
  void dapl(std::int64_t tick, const char *path, int result, int error);
  void loader(std::int64_t tick, const char *command_line, int status, int error);
  void clock(std::int64_t value);
  // Ends the clock run it came in, so that replay knows which times() call
  // it came after as well as which device call.
  void interrupt(std::int64_t tick, Interrupt means);

  // Sends what is held to the file (a device closed, a second passed),
  // a repeat count and a clock run in progress included: a run that goes
  // on after it continues in a record of its own.
  void flush();
  // And to the disk.
  void sync() { writer_.sync(); }
  // Writes what is pending (a repeat count, a clock run) and the end record.
  void finish();

  bool stopped() const { return stopped_ || writer_.failed_error() != 0; }
  std::uint64_t size() const { return writer_.size(); }
  int failed_error() const { return writer_.failed_error(); }
  std::uint64_t kept() const { return writer_.kept(); }

private:
  void add(const std::uint8_t *head, std::size_t head_size, const void *data,
           std::size_t data_size);
  void between_ticks(Kind kind, std::uint8_t node, std::int64_t tick, std::int32_t value,
                     int error);
  void emit_repeat();
  void emit_clock();
  void end_clock_run();
  bool fits(std::size_t count);

  Writer writer_;
  std::uint64_t limit_;
  bool stopped_ = false; // at the limit
  // The last record without data, for merging repeats.
  std::uint8_t last_[32];
  std::size_t last_size_ = 0;
  std::uint64_t pending_repeats_ = 0;
  std::int64_t clock_value_ = 0;
  std::uint64_t clock_count_ = 0;
};

} // namespace dapsession
