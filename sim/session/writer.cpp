#include "writer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bytes.h"

namespace dapsession {

using bytes::put_u32;

Writer::Writer(int fd, std::uint32_t ticks_per_second, WriteFn write_fn, std::size_t block_size)
    : fd_(fd), write_(write_fn),
      buffer_(static_cast<std::uint8_t *>(std::malloc(kBlockHeaderSize + block_size))),
      capacity_(block_size) {
  if (buffer_ == nullptr)
    capacity_ = 0;
  origin_ = ::lseek(fd, 0, SEEK_CUR);
  std::uint8_t header[kHeaderSize];
  encode_header(header, ticks_per_second);
  send(header, sizeof header);
}

Writer::~Writer() { std::free(buffer_); }

int Writer::write_all(const void *bytes, std::size_t count) {
  const auto *p = static_cast<const std::uint8_t *>(bytes);
  while (count > 0) {
    const ssize_t n = write_(fd_, p, count);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return n < 0 ? errno : EIO;
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}

bool Writer::send(const void *bytes, std::size_t count) {
  if (failed_error_ != 0)
    return false;
  const int saved = errno;
  const int error = write_all(bytes, count);
  errno = saved;
  if (error != 0) {
    write_failed(error, false);
    return false;
  }
  committed_ += count;
  return true;
}

namespace {

// How many of the records at `p` (`size` bytes) come before an end record
// (a finish() in progress: the mark brings its own) or the end of them.
std::size_t count_records(const std::uint8_t *p, std::size_t size) {
  std::size_t n = 0;
  for (std::size_t at = 0; at + kCommonSize <= size; ++n) {
    Record r;
    const std::uint64_t data = decode_record(p + at, &r);
    if (r.kind == Kind::end)
      break;
    at += kCommonSize + fixed_size(p[at], kVersion) + data;
  }
  return n;
}

// The bytes of the first `n` records at `p`.
std::size_t prefix_size(const std::uint8_t *p, std::size_t n) {
  std::size_t at = 0;
  for (; n > 0; --n) {
    Record r;
    at += kCommonSize + fixed_size(p[at], kVersion) + decode_record(p + at, &r);
  }
  return at;
}

} // namespace

// A block's header for `size` bytes at `payload`, into `block`.
void Writer::frame(std::uint8_t *block, const std::uint8_t *payload, std::size_t size,
                   std::uint32_t sequence) const {
  put_u32(block, static_cast<std::uint32_t>(size));
  put_u32(block + 4, sequence);
  put_u32(block + 8, crc32(payload, size, crc32(block, 8)));
}

// The first `n` buffered records as a block, then the stopped and end
// records: whether all of it went to the file. Kept when `commit`, else
// taken back, as it is when it did not all go.
bool Writer::keep(std::size_t n, int error, bool commit) {
  const off_t whole = origin_ + static_cast<off_t>(committed_);
  std::uint8_t *records = buffer_ + kBlockHeaderSize;
  const std::size_t size = n > 0 ? prefix_size(records, n) : 0;
  std::uint8_t mark[kBlockHeaderSize + 2 * kCommonSize];
  encode_common(mark + kBlockHeaderSize, Kind::stopped, kNoNode, error, -1);
  encode_common(mark + kBlockHeaderSize + kCommonSize, Kind::end, kNoNode, 0, -1);
  frame(mark, mark + kBlockHeaderSize, 2 * kCommonSize, sequence_ + (n > 0 ? 1 : 0));
  if (n > 0)
    frame(buffer_, records, size, sequence_);
  const bool went = (n == 0 || write_all(buffer_, kBlockHeaderSize + size) == 0) &&
                    write_all(mark, sizeof mark) == 0;
  if (went && commit) {
    committed_ += (n > 0 ? kBlockHeaderSize + size : 0) + sizeof mark;
    sequence_ += n > 0 ? 2 : 1;
    return true;
  }
  if (::ftruncate(fd_, whole) != 0 || ::lseek(fd_, whole, SEEK_SET) != whole) {
    // Nothing more can be done: a reader finds the file cut short.
  }
  return went;
}

// What a partial write left goes, so that the file ends at its last whole
// block. Of the records that were buffered (`buffered`: the write that
// failed was theirs), as many as still fit are kept, in a smaller block;
// then the stopped and end records. Nothing is ever written after this: the
// disk that frees up later would leave a gap.
void Writer::write_failed(int error, bool buffered) {
  const int saved = errno;
  failed_error_ = error;
  const std::size_t records =
      buffered && buffer_ != nullptr ? count_records(buffer_ + kBlockHeaderSize, used_) : 0;
  used_ = 0;
  const off_t whole = origin_ + static_cast<off_t>(committed_);
  // Without its header the file is no session file: no mark can help it.
  if (origin_ >= 0 && ::ftruncate(fd_, whole) == 0 && committed_ >= kHeaderSize &&
      ::lseek(fd_, whole, SEEK_SET) == whole) {
    // The most records that still fit with the mark, found by halves.
    bool any = false;
    std::size_t fit = 0;
    for (std::size_t low = 0, high = records; low <= high;) {
      const std::size_t mid = low + (high - low) / 2;
      if (keep(mid, error, false)) {
        any = true;
        fit = mid;
        low = mid + 1;
      } else if (mid == 0) {
        break;
      } else {
        high = mid - 1;
      }
    }
    if (any)
      keep(fit, error, true);
  }
  errno = saved;
}

// A block: the records buffered, or one record too big for the buffer.
void Writer::send_block(const std::uint8_t *head, std::size_t head_size, const void *data,
                        std::size_t data_size) {
  if (failed_error_ != 0)
    return;
  const int saved = errno;
  std::uint8_t block[kBlockHeaderSize];
  put_u32(block, static_cast<std::uint32_t>(head_size + data_size));
  put_u32(block + 4, sequence_);
  std::uint32_t sum = crc32(head, head_size, crc32(block, 8));
  if (data_size > 0)
    sum = crc32(data, data_size, sum);
  put_u32(block + 8, sum);
  const bool buffered = head == buffer_ + kBlockHeaderSize;
  int error;
  if (buffered) {
    std::memcpy(buffer_, block, sizeof block);
    error = write_all(buffer_, kBlockHeaderSize + head_size);
  } else {
    error = write_all(block, sizeof block);
    if (error == 0)
      error = write_all(head, head_size);
    if (error == 0 && data_size > 0)
      error = write_all(data, data_size);
  }
  errno = saved;
  if (error != 0) {
    write_failed(error, buffered);
    return;
  }
  committed_ += kBlockHeaderSize + head_size + data_size;
  ++sequence_;
}

void Writer::add(const void *head, std::size_t head_size, const void *data, std::size_t data_size) {
  if (failed_error_ != 0)
    return;
  const auto *h = static_cast<const std::uint8_t *>(head);
  if (head_size + data_size > capacity_) {
    flush();
    send_block(h, head_size, data, data_size);
    return;
  }
  if (used_ + head_size + data_size > capacity_)
    flush();
  std::memcpy(buffer_ + kBlockHeaderSize + used_, h, head_size);
  if (data_size > 0)
    std::memcpy(buffer_ + kBlockHeaderSize + used_ + head_size, data, data_size);
  used_ += head_size + data_size;
}

void Writer::add(const Record &record) {
  if (failed_error_ != 0)
    return;
  const std::size_t size = encoded_size(record);
  if (size > capacity_) {
    flush();
    oversize_.resize(size);
    encode_record(record, oversize_.data());
    send_block(oversize_.data(), size, nullptr, 0);
    return;
  }
  if (used_ + size > capacity_)
    flush();
  encode_record(record, buffer_ + kBlockHeaderSize + used_);
  used_ += size;
}

void Writer::flush() {
  if (used_ > 0 && failed_error_ == 0)
    send_block(buffer_ + kBlockHeaderSize, used_, nullptr, 0);
  used_ = 0;
}

void Writer::sync() {
  if (failed_error_ == 0 && ::fdatasync(fd_) != 0)
    write_failed(errno, false);
}

void Writer::finish(Ending ending) {
  if (failed_error_ != 0 || ended_)
    return;
  std::uint8_t end[kCommonSize];
  encode_common(end, Kind::end, kNoNode, 0, -1);
  if (ending == Ending::reopenable)
    flush();
  const std::uint64_t at = committed_;
  add(end, sizeof end);
  flush();
  if (failed_error_ == 0) {
    end_at_ = at;
    ended_ = true;
    ending_ = ending;
  }
}

bool Writer::reopen() {
  if (!ended_)
    return true;
  if (failed_error_ != 0 || origin_ < 0 || ending_ == Ending::sealed)
    return false;
  const off_t at = origin_ + static_cast<off_t>(end_at_);
  if (::ftruncate(fd_, at) != 0 || ::lseek(fd_, at, SEEK_SET) != at)
    return false;
  committed_ = end_at_;
  --sequence_;
  ended_ = false;
  return true;
}

} // namespace dapsession
