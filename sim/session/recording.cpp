#include "recording.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "bytes.h"

namespace dapsession {

using namespace bytes;

namespace {

// The message that a recording stopped, straight to standard error.
void say(const std::string &text) {
  [[maybe_unused]] const long rc = syscall(SYS_write, 2, text.data(), text.size());
}

} // namespace

Recording::Recording(int fd, std::uint64_t limit, std::uint32_t ticks_per_second, WriteFn write_fn,
                     std::size_t buffer_size)
    : writer_(fd, ticks_per_second, write_fn, buffer_size), limit_(limit) {}

// Room for `count` more bytes, with what is pending and the limit and end
// records still to come. At the limit: the marker, one message, and
// nothing more.
bool Recording::fits(std::size_t count) {
  if (stopped() || !writer_.reopen())
    return false;
  constexpr std::size_t kReserve = 3 * 16 + kCommonSize + 3 * kBlockHeaderSize;
  if (writer_.size() + count + kBlockHeaderSize + kReserve <= limit_)
    return true;
  emit_repeat();
  emit_clock();
  std::uint8_t head[kCommonSize];
  encode_common(head, Kind::limit, kNoNode, 0, -1);
  writer_.add(head, sizeof head);
  writer_.flush();
  stopped_ = true;
  say("daprec: the session file reached its limit of " + std::to_string(limit_) +
      " bytes; recording stopped (the calls still go through)\n");
  return false;
}

void Recording::emit_repeat() {
  while (pending_repeats_ > 0) {
    const std::uint32_t n = clamp_u32(pending_repeats_);
    std::uint8_t head[16];
    encode_common(head, Kind::repeat, kNoNode, 0, -1);
    put_u32(head + kCommonSize, n);
    writer_.add(head, sizeof head);
    pending_repeats_ -= n;
  }
}

// An open, a close or a release ends a clock run, so that the times()
// values of a command call are written before its last record and a cut
// keeps them.
void Recording::end_clock_run() {
  if (stopped() || clock_count_ == 0 || !writer_.reopen())
    return;
  emit_repeat();
  emit_clock();
}

void Recording::emit_clock() {
  if (clock_count_ == 0)
    return;
  while (clock_count_ > 0) {
    const std::uint32_t n = clamp_u32(clock_count_);
    std::uint8_t head[16];
    encode_common(head, Kind::clock, kNoNode, 0, clock_value_);
    put_u32(head + kCommonSize, n);
    writer_.add(head, sizeof head);
    clock_count_ -= n;
  }
  // A clock record between two equal records keeps them apart.
  last_size_ = 0;
}

void Recording::add(const std::uint8_t *head, std::size_t head_size, const void *data,
                    std::size_t data_size) {
  if (data_size == 0 && head_size == last_size_ && std::memcmp(head, last_, head_size) == 0) {
    if (!fits(0))
      return;
    ++pending_repeats_;
    return;
  }
  if (!fits(head_size + data_size))
    return;
  emit_repeat();
  writer_.add(head, head_size, data, data_size);
  if (data_size == 0 && head_size <= sizeof last_) {
    std::memcpy(last_, head, head_size);
    last_size_ = head_size;
  } else {
    last_size_ = 0;
  }
}

// An open, a close, a release or a Ctrl-C: a record of one value that ends
// the clock run it came in.
void Recording::between_ticks(Kind kind, std::uint8_t node, std::int64_t tick, std::int32_t value,
                              int error) {
  end_clock_run();
  std::uint8_t head[16];
  encode_common(head, kind, node, error, tick);
  put_u32(head + kCommonSize, from_i32(value));
  add(head, sizeof head, nullptr, 0);
}

void Recording::open(std::uint8_t node, std::int64_t tick, int result, int error) {
  between_ticks(Kind::open, node, tick, result, result < 0 ? error : 0);
}

void Recording::read(std::uint8_t node, std::int64_t tick, std::size_t asked, ssize_t result,
                     int error, const void *bytes) {
  std::uint8_t head[20];
  encode_common(head, Kind::read, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, clamp_u32(asked));
  put_u32(head + kCommonSize + 4, from_i32(clamp_i32(result)));
  const std::size_t n = result > 0 ? static_cast<std::size_t>(clamp_i32(result)) : 0;
  add(head, sizeof head, bytes, n);
}

void Recording::write(std::uint8_t node, std::int64_t tick, std::size_t count, ssize_t result,
                      int error, const void *bytes) {
  std::uint8_t head[20];
  // Without the bytes (a buffer the system refused) the record says it
  // offered none, so that it stays as long as it says it is.
  const std::uint32_t shown = bytes == nullptr ? 0 : clamp_u32(count);
  encode_common(head, Kind::write, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, shown);
  put_u32(head + kCommonSize + 4, from_i32(clamp_i32(result)));
  add(head, sizeof head, bytes, shown);
}

void Recording::ioctl(std::uint8_t node, std::int64_t tick, unsigned long request, int result,
                      int error, std::int32_t value) {
  std::uint8_t head[24];
  encode_common(head, Kind::ioctl, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, clamp_u32(request));
  put_u32(head + kCommonSize + 4, from_i32(result));
  put_u32(head + kCommonSize + 8, from_i32(value));
  add(head, sizeof head, nullptr, 0);
}

void Recording::close(std::uint8_t node, std::int64_t tick, int result, int error) {
  between_ticks(Kind::close, node, tick, result, result < 0 ? error : 0);
}

void Recording::release(std::uint8_t node, std::int64_t tick, int fd) {
  between_ticks(Kind::release, node, tick, fd, 0);
}

void Recording::dapl(std::int64_t tick, const char *path, int result, int error) {
  const std::size_t length = std::strlen(path);
  std::uint8_t head[20];
  encode_common(head, Kind::dapl, kNoNode, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, from_i32(result));
  put_u32(head + kCommonSize + 4, clamp_u32(length));
  last_size_ = 0;
  add(head, sizeof head, path, std::min<std::size_t>(length, UINT32_MAX));
}

void Recording::loader(std::int64_t tick, const char *command_line, int status, int error) {
  const std::size_t length = std::strlen(command_line);
  std::uint8_t head[20];
  encode_common(head, Kind::loader, kNoNode, status == -1 ? error : 0, tick);
  put_u32(head + kCommonSize, from_i32(status));
  put_u32(head + kCommonSize + 4, clamp_u32(length));
  last_size_ = 0;
  add(head, sizeof head, command_line, std::min<std::size_t>(length, UINT32_MAX));
}

void Recording::clock(std::int64_t value) {
  if (stopped() || !writer_.reopen())
    return;
  if (clock_count_ > 0 && value == clock_value_) {
    ++clock_count_;
    return;
  }
  if (!fits(16))
    return;
  emit_repeat();
  emit_clock();
  clock_value_ = value;
  clock_count_ = 1;
}

void Recording::interrupt(std::int64_t tick, Interrupt means) {
  last_size_ = 0; // two Ctrl-Cs in a row are two, not one repeated
  between_ticks(Kind::interrupt, kNoNode, tick, static_cast<std::int32_t>(means), 0);
}

void Recording::flush() {
  if (!stopped() && writer_.reopen()) {
    emit_repeat();
    emit_clock();
  }
  writer_.flush();
}

void Recording::finish() {
  if (writer_.failed_error() != 0)
    return;
  if (!stopped_) {
    emit_repeat();
    emit_clock();
  }
  writer_.finish(Writer::Ending::reopenable);
}

} // namespace dapsession
