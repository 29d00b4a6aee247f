// A session file's framing as a reader meets it: where its bytes come from,
// its header, its checked blocks (version 2) or its bare records (version
// 1), and where it ends. What is damage, and where it starts, is said here.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "bytes.h"
#include "reader.h"

namespace dapsession {

using bytes::get_u32;

namespace {

// Largest block a reader takes: far above what the writer makes (its
// buffer, or one record of a call's data), far below what exhausts memory.
constexpr std::uint32_t kMaxBlock = std::uint32_t{1} << 30;

} // namespace

Reader::~Reader() {
  if (owns_fd_)
    ::close(fd_);
}

bool Reader::open(const std::string &path, std::string *error) {
  name_ = path;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  owns_fd_ = true;
  return start(error);
}

bool Reader::open_fd(int fd, const std::string &name, std::string *error) {
  name_ = name;
  fd_ = fd;
  return start(error);
}

bool Reader::open_bytes(const std::vector<std::uint8_t> *bytes, const std::string &name,
                        std::string *error) {
  name_ = name;
  bytes_ = bytes;
  return start(error);
}

std::size_t Reader::raw(std::uint8_t *out, std::size_t count) {
  std::size_t got = 0;
  if (bytes_ != nullptr) {
    const std::size_t left = position_ < bytes_->size() ? bytes_->size() - position_ : 0;
    got = std::min(count, left);
    if (got > 0)
      std::memcpy(out, bytes_->data() + position_, got);
  } else {
    while (got < count) {
      // At its own place: readers may share the descriptor. A pipe or a
      // device has no place; it is read as it comes.
      ssize_t n = seekable_
                      ? ::pread(fd_, out + got, count - got, static_cast<off_t>(position_ + got))
                      : ::read(fd_, out + got, count - got);
      if (n < 0 && errno == ESPIPE && seekable_) {
        seekable_ = false;
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        io_failed_ = true;
        io_errno_ = errno;
      }
      if (n <= 0)
        break;
      got += static_cast<std::size_t>(n);
    }
  }
  position_ += got;
  return got;
}

bool Reader::fail(std::uint64_t at, const std::string &why, std::string *error,
                  std::uint64_t last) {
  failed_ = true;
  if (io_failed_)
    *error =
        name_ + ": cannot read at byte " + std::to_string(at) + ": " + std::strerror(io_errno_);
  else if (last > at)
    *error = name_ + ": " + why + " at bytes " + std::to_string(at) + "-" + std::to_string(last);
  else
    *error = name_ + ": " + why + " at byte " + std::to_string(at);
  failure_ = *error;
  return false;
}

bool Reader::start(std::string *error) {
  std::uint8_t header[kHeaderSize];
  const std::size_t got = raw(header, sizeof header);
  if (got == 0 && !io_failed_)
    return fail(0, "refused: the file is empty", error);
  const Header h = decode_header(header, got);
  if (!h.why.empty())
    return fail(h.at, h.why, error, h.last);
  version_ = h.version;
  ticks_per_second_ = h.ticks_per_second;
  base_ = kHeaderSize;
  return true;
}

// Version 2: the block after the one held, or the end of the file. What may
// end a file is decided here: its end record, then nothing; or, unfinished,
// its last whole block.
bool Reader::next_block(std::string *error, bool *at_end) {
  if (ended_) {
    // Nothing may follow the end record.
    std::uint8_t byte;
    if (raw(&byte, 1) != 0 || io_failed_)
      return fail(position_ - 1, "refused: damaged (bytes after the end record)", error);
    *at_end = true;
    return true;
  }
  return load_block(error, at_end);
}

bool Reader::unfinished_at(std::uint64_t start, std::uint64_t dropped, bool *at_end) {
  // Nothing more is held: the last block's records were all taken.
  held_.clear();
  shared_.reset();
  at_ = 0;
  unfinished_ = true;
  whole_end_ = start;
  dropped_ = dropped;
  *at_end = true;
  return true;
}

// Whether the bytes of a block cut short hold a whole, checked block that
// would come after it: then the file goes on, and the length in its header
// is damage, not a cut.
bool Reader::block_follows(const std::uint8_t *bytes, std::size_t count) const {
  for (std::size_t p = 0; p + kBlockHeaderSize <= count; ++p) {
    if (get_u32(bytes + p + 4) != sequence_ + 1)
      continue;
    const std::uint32_t length = get_u32(bytes + p);
    if (length > 0 && length <= count - p - kBlockHeaderSize &&
        crc32(bytes + p + kBlockHeaderSize, length, crc32(bytes + p, 8)) == get_u32(bytes + p + 8))
      return true;
  }
  return false;
}

// The next block, checked. *at_end when the file ends before it: with
// nothing after the last whole block, or with a block cut short (the file
// is then unfinished).
bool Reader::load_block(std::string *error, bool *at_end) {
  if (unfinished_) {
    *at_end = true;
    return true;
  }
  const std::uint64_t start = position_;
  at_ = 0;
  if (start >= options_.end)
    return unfinished_at(start, 0, at_end);
  BlockCache *cache = options_.cache;
  if (cache != nullptr) {
    // Read before by a reader of the same file, whole.
    std::shared_ptr<const std::vector<std::uint8_t>> block = cache->find(start, sequence_);
    if (block != nullptr) {
      shared_ = std::move(block);
      position_ = start + kBlockHeaderSize + shared_->size();
      base_ = start + kBlockHeaderSize;
      ++sequence_;
      return true;
    }
  }
  std::uint8_t head[kBlockHeaderSize] = {};
  const std::size_t got = raw(head, sizeof head);
  if (io_failed_)
    return fail(start, "", error);
  const std::uint32_t length = get_u32(head);
  // As much of the header as there is must be the next block's.
  const bool next = (got < 4 || (length != 0 && length <= kMaxBlock)) &&
                    (got < 8 || get_u32(head + 4) == sequence_);
  if (!next)
    return fail(start, "refused: damaged (not the block that comes next)", error,
                start + std::min<std::uint64_t>(got, kBlockHeaderSize) - 1);
  if (got < sizeof head)
    return unfinished_at(start, got, at_end);
  std::shared_ptr<std::vector<std::uint8_t>> fresh;
  if (cache != nullptr)
    fresh = cache->fresh();
  shared_.reset();
  std::vector<std::uint8_t> *into = fresh != nullptr ? fresh.get() : &held_;
  const std::uint64_t last = start + kBlockHeaderSize + length - 1;
  if (!read_payload(into, length)) {
    if (io_failed_)
      return fail(start, "", error);
    if (block_follows(into->data(), into->size()))
      return fail(start, "refused: damaged (a block's length runs past the blocks after it)", error,
                  start + kBlockHeaderSize - 1);
    return unfinished_at(start, kBlockHeaderSize + into->size(), at_end);
  }
  shared_ = fresh;
  if (options_.verify && crc32(held(), held_size(), crc32(head, 8)) != get_u32(head + 8))
    return fail(start, "refused: damaged (a block's CRC-32 fails)", error, last);
  if (cache != nullptr)
    cache->add(start, sequence_, std::move(fresh));
  base_ = start + kBlockHeaderSize;
  ++sequence_;
  return true;
}

// A block's `length` bytes after its header, into *into.
bool Reader::read_payload(std::vector<std::uint8_t> *into, std::uint32_t length) {
  // A block of the usual size goes where the last one was (no new memory,
  // nothing to clear); a longer one is grown as bytes come, so that a
  // damaged length costs no more memory than the file holds.
  if (length <= std::max<std::size_t>(into->size(), std::size_t{4} << 20)) {
    into->resize(length);
    const std::size_t n = raw(into->data(), length);
    into->resize(n);
    return n == length;
  }
  into->clear();
  while (into->size() < length) {
    const std::size_t had = into->size();
    const std::size_t want = std::min<std::size_t>(length - had, std::size_t{4} << 20);
    into->resize(had + want);
    const std::size_t n = raw(into->data() + had, want);
    into->resize(had + n);
    if (n < want)
      return false;
  }
  return true;
}

// `count` bytes held from at_ on. Version 1 reads on from the file (a
// shortfall is a record cut short); version 2 has them in its block.
bool Reader::ensure(std::size_t count, std::uint64_t record_at, std::string *error) {
  if (held_size() - at_ >= count)
    return true;
  if (version_ >= 2)
    return fail(record_at, "refused: damaged (a record runs past its block)", error);
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at_));
  base_ += at_;
  at_ = 0;
  while (held_.size() < count) {
    const std::size_t had = held_.size();
    const std::size_t want = std::max<std::size_t>(
        std::min<std::size_t>(count - had, std::size_t{4} << 20), std::size_t{64} << 10);
    held_.resize(had + want);
    const std::size_t n = raw(held_.data() + had, want);
    held_.resize(had + n);
    if (n == 0)
      return fail(record_at, "refused: cut short inside a record", error);
  }
  return true;
}

} // namespace dapsession
