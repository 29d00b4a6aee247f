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
    write_failed(error);
    return false;
  }
  committed_ += count;
  return true;
}

// What a partial write left goes, so that the file ends at its last whole
// block; then the stopped and end records, when they fit. Nothing is ever
// written after this: the disk that frees up later would leave a gap.
void Writer::write_failed(int error) {
  const int saved = errno;
  failed_error_ = error;
  used_ = 0;
  const off_t whole = origin_ + static_cast<off_t>(committed_);
  // Without its header the file is no session file: no mark can help it.
  if (origin_ >= 0 && ::ftruncate(fd_, whole) == 0 && committed_ >= kHeaderSize &&
      ::lseek(fd_, whole, SEEK_SET) == whole) {
    std::uint8_t mark[kBlockHeaderSize + 2 * kCommonSize];
    encode_common(mark + kBlockHeaderSize, Kind::stopped, kNoNode, error, -1);
    encode_common(mark + kBlockHeaderSize + kCommonSize, Kind::end, kNoNode, 0, -1);
    put_u32(mark, 2 * kCommonSize);
    put_u32(mark + 4, sequence_);
    put_u32(mark + 8, crc32(mark + kBlockHeaderSize, 2 * kCommonSize, crc32(mark, 8)));
    if (write_all(mark, sizeof mark) == 0) {
      committed_ += sizeof mark;
    } else if (::ftruncate(fd_, whole) != 0) {
      // Nothing more can be done: a reader finds the file cut short.
    }
  }
  errno = saved;
}

// A block: the records buffered, or one record too big for the buffer.
void Writer::send_block(const std::uint8_t *head, std::size_t head_size, const void *data,
                        std::size_t data_size) {
  std::uint8_t block[kBlockHeaderSize];
  put_u32(block, static_cast<std::uint32_t>(head_size + data_size));
  put_u32(block + 4, sequence_);
  std::uint32_t sum = crc32(head, head_size, crc32(block, 8));
  if (data_size > 0)
    sum = crc32(data, data_size, sum);
  put_u32(block + 8, sum);
  if (head == buffer_ + kBlockHeaderSize) {
    std::memcpy(buffer_, block, sizeof block);
    if (!send(buffer_, kBlockHeaderSize + head_size))
      return;
  } else if (!send(block, sizeof block) || !send(head, head_size) ||
             (data_size > 0 && !send(data, data_size))) {
    return;
  }
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
