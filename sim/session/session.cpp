#include "session.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace dapsession {
namespace {

// Each record starts with its kind, node, errno and tick.
constexpr std::size_t kCommonSize = 12;

void put_u16(std::uint8_t *out, std::uint16_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
}
void put_u32(std::uint8_t *out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put_u64(std::uint8_t *out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t get_u16(const std::uint8_t *in) {
  return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}
std::uint32_t get_u32(const std::uint8_t *in) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | in[i];
  return v;
}
std::uint64_t get_u64(const std::uint8_t *in) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i)
    v = (v << 8) | in[i];
  return v;
}
// Two's complement both ways, without an out-of-range conversion.
std::uint32_t from_i32(std::int32_t v) { return static_cast<std::uint32_t>(v); }
std::int32_t to_i32(std::uint32_t v) {
  return v <= 0x7FFFFFFFu ? static_cast<std::int32_t>(v) : -static_cast<std::int32_t>(~v) - 1;
}
std::uint64_t from_i64(std::int64_t v) { return static_cast<std::uint64_t>(v); }
std::int64_t to_i64(std::uint64_t v) {
  return v <= 0x7FFFFFFFFFFFFFFFull ? static_cast<std::int64_t>(v)
                                    : -static_cast<std::int64_t>(~v) - 1;
}

std::size_t common(std::uint8_t *out, Kind kind, std::uint8_t node, int error, std::int64_t tick) {
  out[0] = static_cast<std::uint8_t>(kind);
  out[1] = node;
  put_u16(out + 2, static_cast<std::uint16_t>(error < 0 || error > 0xFFFF ? 0xFFFF : error));
  put_u64(out + 4, from_i64(tick));
  return kCommonSize;
}

std::int32_t clamp_i32(std::int64_t v) {
  if (v > INT32_MAX)
    return INT32_MAX;
  if (v < INT32_MIN)
    return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

std::uint32_t clamp_u32(std::uint64_t v) {
  return v > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(v);
}

// The message that a recording stopped, straight to standard error.
void say(const std::string &text) {
  [[maybe_unused]] const long rc = syscall(SYS_write, 2, text.data(), text.size());
}

} // namespace

const char *kind_name(Kind kind) {
  switch (kind) {
  case Kind::open:
    return "open";
  case Kind::read:
    return "read";
  case Kind::write:
    return "write";
  case Kind::ioctl:
    return "ioctl";
  case Kind::close:
    return "close";
  case Kind::release:
    return "release";
  case Kind::dapl:
    return "dapl";
  case Kind::loader:
    return "loader";
  case Kind::clock:
    return "clock";
  case Kind::repeat:
    return "repeat";
  case Kind::limit:
    return "limit";
  case Kind::interrupt:
    return "interrupt";
  case Kind::stopped:
    return "stopped";
  case Kind::end:
    return "end";
  }
  return "?";
}

const char *interrupt_name(std::int64_t means) {
  switch (means) {
  case static_cast<int>(Interrupt::handler):
    return "handler";
  case static_cast<int>(Interrupt::octave):
    return "octave";
  case static_cast<int>(Interrupt::query):
    return "query";
  case static_cast<int>(Interrupt::held):
    return "held";
  }
  return "?";
}

const char *node_name(std::uint8_t node) {
  return node == kAccel0 ? "accel0" : (node == kAccel1 ? "accel1" : "-");
}

void encode_header(std::uint8_t out[kHeaderSize], std::uint32_t ticks_per_second) {
  std::memcpy(out, kMagic, sizeof kMagic);
  put_u16(out + 6, kVersion);
  put_u32(out + 8, ticks_per_second);
  put_u32(out + 12, crc32(out, 12));
}

namespace {

// The fixed part after the common one, by kind; SIZE_MAX for a kind this
// version does not have.
std::size_t fixed_size(std::uint8_t kind, std::uint16_t version) {
  switch (static_cast<Kind>(kind)) {
  case Kind::open:
  case Kind::close:
  case Kind::release:
  case Kind::clock:
  case Kind::repeat:
    return 4;
  case Kind::read:
  case Kind::write:
  case Kind::dapl:
  case Kind::loader:
    return 8;
  case Kind::ioctl:
    return 12;
  case Kind::limit:
    return 0;
  case Kind::interrupt:
    return version >= 2 ? 4 : SIZE_MAX;
  case Kind::stopped:
  case Kind::end:
    return version >= 2 ? 0 : SIZE_MAX;
  }
  return SIZE_MAX;
}

// Largest block a reader takes: far above what the writer makes (its
// buffer, or one record of a call's data), far below what exhausts memory.
constexpr std::uint32_t kMaxBlock = std::uint32_t{1} << 30;
constexpr std::uint64_t kMaxClockRun = std::uint64_t{1} << 24;

} // namespace

Reader::~Reader() {
  if (owns_fd_)
    ::close(fd_);
}

bool Reader::fetch(const Record &r, std::vector<std::uint8_t> *data, std::string *error) {
  const std::uint64_t at =
      r.offset + kCommonSize + fixed_size(static_cast<std::uint8_t>(r.kind), version_);
  data->resize(static_cast<std::size_t>(r.data_size));
  std::size_t got = 0;
  if (bytes_ != nullptr) {
    if (at <= bytes_->size() && r.data_size <= bytes_->size() - at) {
      std::memcpy(data->data(), bytes_->data() + at, data->size());
      got = data->size();
    }
  } else {
    while (got < data->size()) {
      const ssize_t n =
          ::pread(fd_, data->data() + got, data->size() - got, static_cast<off_t>(at + got));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got += static_cast<std::size_t>(n);
    }
  }
  if (got == data->size())
    return true;
  *error = name_ + ": cannot read the data of the record at byte " + std::to_string(r.offset) +
           " again (the file changed?)";
  return false;
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

bool Reader::fail(std::uint64_t at, const std::string &why, std::string *error) {
  failed_ = true;
  if (io_failed_)
    *error =
        name_ + ": cannot read at byte " + std::to_string(at) + ": " + std::strerror(io_errno_);
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
  if (got < sizeof kMagic || std::memcmp(header, kMagic, sizeof kMagic) != 0)
    return fail(0, "refused: not a session file (no DAPSES header)", error);
  if (got < kHeaderSize)
    return fail(got, "refused: cut short in its header", error);
  version_ = get_u16(header + 6);
  if (version_ == 0 || version_ > kVersion)
    return fail(6,
                "refused: session file version " + std::to_string(version_) +
                    " is newer than this reader (" + std::to_string(kVersion) + ")",
                error);
  ticks_per_second_ = get_u32(header + 8);
  if (version_ >= 2 && get_u32(header + 12) != crc32(header, 12))
    return fail(0, "refused: damaged header (its CRC-32 fails)", error);
  base_ = kHeaderSize;
  return true;
}

// Version 2: the next block, checked. *at_end when the file ends before it.
bool Reader::load_block(std::string *error, bool *at_end) {
  const std::uint64_t start = position_;
  at_ = 0;
  if (cache_ != nullptr) {
    // Read before by a reader of the same file, whole.
    std::shared_ptr<const std::vector<std::uint8_t>> block = cache_->find(start, sequence_);
    if (block != nullptr) {
      shared_ = std::move(block);
      position_ = start + kBlockHeaderSize + shared_->size();
      base_ = start + kBlockHeaderSize;
      ++sequence_;
      return true;
    }
  }
  std::uint8_t head[kBlockHeaderSize];
  const std::size_t got = raw(head, sizeof head);
  if (got == 0 && !io_failed_) {
    *at_end = true;
    return true;
  }
  if (got < sizeof head)
    return fail(start, "refused: cut short inside a block's header", error);
  const std::uint32_t length = get_u32(head);
  if (get_u32(head + 4) != sequence_ || length == 0 || length > kMaxBlock)
    return fail(start, "refused: damaged (not the block that comes next)", error);
  std::shared_ptr<std::vector<std::uint8_t>> fresh;
  if (cache_ != nullptr)
    fresh = cache_->fresh();
  shared_.reset();
  if (!read_payload(fresh != nullptr ? fresh.get() : &held_, length, start, error))
    return false;
  shared_ = fresh;
  if (!checked_ && crc32(held(), held_size(), crc32(head, 8)) != get_u32(head + 8))
    return fail(start, "refused: damaged (a block's CRC-32 fails)", error);
  if (cache_ != nullptr)
    cache_->add(start, sequence_, std::move(fresh));
  base_ = start + kBlockHeaderSize;
  ++sequence_;
  return true;
}

// A block's `length` bytes after its header at `start`, into *into.
bool Reader::read_payload(std::vector<std::uint8_t> *into, std::uint32_t length,
                          std::uint64_t start, std::string *error) {
  // A block of the usual size goes where the last one was (no new memory,
  // nothing to clear); a longer one is grown as bytes come, so that a
  // damaged length costs no more memory than the file holds.
  if (length <= std::max<std::size_t>(into->size(), std::size_t{4} << 20)) {
    into->resize(length);
    if (raw(into->data(), length) < length)
      return fail(start, "refused: cut short inside a block", error);
  }
  if (into->size() != length)
    into->clear();
  while (into->size() < length) {
    const std::size_t had = into->size();
    const std::size_t want = std::min<std::size_t>(length - had, std::size_t{4} << 20);
    into->resize(had + want);
    const std::size_t n = raw(into->data() + had, want);
    into->resize(had + n);
    if (n < want)
      return fail(start, "refused: cut short inside a block", error);
  }
  return true;
}

std::shared_ptr<const std::vector<std::uint8_t>> BlockCache::find(std::uint64_t at,
                                                                  std::uint32_t sequence) const {
  for (const Entry &e : entries_)
    if (e.block != nullptr && e.at == at && e.sequence == sequence)
      return e.block;
  return nullptr;
}

std::shared_ptr<std::vector<std::uint8_t>> BlockCache::fresh() {
  if (spare_ != nullptr)
    return std::move(spare_);
  return std::make_shared<std::vector<std::uint8_t>>();
}

void BlockCache::add(std::uint64_t at, std::uint32_t sequence,
                     std::shared_ptr<std::vector<std::uint8_t>> block) {
  Entry &e = entries_[next_];
  if (e.block != nullptr && e.block.use_count() == 1)
    spare_ = std::move(e.block);
  e = Entry{at, sequence, std::move(block)};
  next_ = (next_ + 1) % entries_.size();
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

// One record as it is in the file, repeat records not folded.
bool Reader::parse(Record *r, std::string *error, bool *at_end) {
  *at_end = false;
  if (at_ == held_size()) {
    if (version_ >= 2) {
      if (ended_) {
        // Nothing may follow the end record.
        std::uint8_t byte;
        if (raw(&byte, 1) != 0 || io_failed_)
          return fail(position_ - 1, "refused: damaged (bytes after the end record)", error);
        *at_end = true;
        return true;
      }
      bool none = false;
      if (!load_block(error, &none))
        return false;
      if (none)
        return fail(position_,
                    "refused: cut short (the file ends without its end record; was the "
                    "recording killed or the file cut?)",
                    error);
    } else if (!ensure(1, base_ + at_, error)) {
      if (!io_failed_ && held_size() == at_) {
        failed_ = false;
        error->clear();
        *at_end = true;
        return true;
      }
      return false;
    }
  }
  const std::uint64_t start = base_ + at_;
  if (ended_ && version_ >= 2)
    return fail(start, "refused: damaged (records after the end record)", error);
  if (!ensure(kCommonSize, start, error))
    return false;
  const std::uint8_t kind = held()[at_];
  const std::size_t fixed = fixed_size(kind, version_);
  if (fixed == SIZE_MAX)
    return fail(start, "refused: damaged (unknown record kind " + std::to_string(kind) + ")",
                error);
  if (!ensure(kCommonSize + fixed, start, error))
    return false;
  const std::uint8_t *p = held() + at_;
  *r = Record{};
  r->kind = static_cast<Kind>(kind);
  r->node = p[1];
  r->error = get_u16(p + 2);
  r->tick = to_i64(get_u64(p + 4));
  p += kCommonSize;
  std::uint64_t data = 0;
  switch (r->kind) {
  case Kind::open:
  case Kind::close:
  case Kind::release:
  case Kind::interrupt:
    r->result = to_i32(get_u32(p));
    break;
  case Kind::clock:
  case Kind::repeat:
    r->repeats = get_u32(p);
    break;
  case Kind::read:
    r->asked = get_u32(p);
    r->result = to_i32(get_u32(p + 4));
    data = r->result > 0 ? static_cast<std::uint64_t>(r->result) : 0;
    break;
  case Kind::write:
    r->asked = get_u32(p);
    r->result = to_i32(get_u32(p + 4));
    data = r->asked;
    break;
  case Kind::dapl:
  case Kind::loader:
    r->result = to_i32(get_u32(p));
    data = get_u32(p + 4);
    break;
  case Kind::ioctl:
    r->asked = get_u32(p);
    r->result = to_i32(get_u32(p + 4));
    r->value = to_i32(get_u32(p + 8));
    break;
  case Kind::limit:
    limit_reached_ = true;
    break;
  case Kind::stopped:
    stopped_error_ = r->error != 0 ? r->error : EIO;
    break;
  case Kind::end:
    ended_ = true;
    break;
  }
  // A run is the times() calls within one tick: tens of thousands at the
  // most on a rig. Millions more are damage (and would keep a host's tick
  // wait spinning for hours).
  if (r->kind == Kind::clock && (r->repeats == 0 || r->repeats > kMaxClockRun))
    return fail(start, "refused: damaged (a clock run of " + std::to_string(r->repeats) + " calls)",
                error);
  const std::size_t head = kCommonSize + fixed;
  if (!ensure(head + data, start, error))
    return false;
  r->data_size = data;
  if (!skip_data_ && (wanted_ == nullptr || wanted_(*r, wanted_argument_)) &&
      (data_wanted_ == nullptr || data_wanted_(*r, 0))) {
    const std::size_t kept =
        r->node == kAccel1 && (r->kind == Kind::read || r->kind == Kind::write) && data > cap_
            ? cap_
            : static_cast<std::size_t>(data);
    r->data.assign(held() + at_ + head, held() + at_ + head + kept);
  }
  at_ += head + data;
  r->offset = start;
  r->size = head + data;
  return true;
}

bool Reader::next(Record *record, std::string *error) {
  if (failed_) {
    *error = failure_;
    return false;
  }
  error->clear();
  while (true) {
    Record r;
    bool at_end = false;
    if (have_next_) {
      r = std::move(next_);
      have_next_ = false;
    } else if (!parse(&r, error, &at_end)) {
      return false;
    }
    if (at_end)
      return false;
    if (r.kind == Kind::end)
      continue;
    if (r.kind == Kind::repeat)
      return fail(r.offset, "refused: damaged (a repeat record with nothing before it)", error);
    // The repeat records that follow are this one's; the writer repeats
    // records without data only.
    const bool has_data =
        r.size > kCommonSize + fixed_size(static_cast<std::uint8_t>(r.kind), version_);
    while (true) {
      Record after;
      if (!parse(&after, error, &at_end))
        return false;
      if (at_end)
        break;
      if (after.kind != Kind::repeat) {
        next_ = std::move(after);
        have_next_ = true;
        break;
      }
      if (has_data || r.kind == Kind::clock)
        return fail(after.offset, "refused: damaged (a repeat where none can be)", error);
      r.repeats += after.repeats;
      r.size += after.size;
    }
    if (wanted_ != nullptr && !wanted_(r, wanted_argument_))
      continue;
    *record = std::move(r);
    return true;
  }
}

namespace {

bool read_all(Reader &reader, Session *session, std::string *error) {
  Record r;
  while (reader.next(&r, error))
    session->records.push_back(std::move(r));
  if (!error->empty())
    return false;
  session->version = reader.version();
  session->ticks_per_second = reader.ticks_per_second();
  session->limit_reached = reader.limit_reached();
  session->stopped_error = reader.stopped_error();
  return true;
}

} // namespace

bool parse_session(const std::vector<std::uint8_t> &bytes, Session *session, std::string *error) {
  *session = Session{};
  Reader reader;
  return reader.open_bytes(&bytes, "session", error) && read_all(reader, session, error);
}

bool read_session(const std::string &path, Session *session, std::string *error) {
  *session = Session{};
  Reader reader;
  return reader.open(path, error) && read_all(reader, session, error);
}

void encode_record(const Record &r, std::vector<std::uint8_t> *out) {
  std::uint8_t head[kCommonSize + 12] = {};
  common(head, r.kind, r.node, r.error, r.tick);
  std::uint8_t *p = head + kCommonSize;
  std::size_t fixed = fixed_size(static_cast<std::uint8_t>(r.kind), kVersion);
  std::uint32_t runs = 1; // clock: the run's length goes in the record itself
  switch (r.kind) {
  case Kind::open:
  case Kind::close:
  case Kind::release:
  case Kind::interrupt:
    put_u32(p, from_i32(clamp_i32(r.result)));
    break;
  case Kind::clock:
  case Kind::repeat:
    put_u32(p, clamp_u32(r.repeats));
    runs = 0;
    break;
  case Kind::read:
  case Kind::write:
    put_u32(p, r.asked);
    put_u32(p + 4, from_i32(clamp_i32(r.result)));
    break;
  case Kind::dapl:
  case Kind::loader:
    put_u32(p, from_i32(clamp_i32(r.result)));
    put_u32(p + 4, clamp_u32(r.data.size()));
    break;
  case Kind::ioctl:
    put_u32(p, r.asked);
    put_u32(p + 4, from_i32(clamp_i32(r.result)));
    put_u32(p + 8, from_i32(r.value));
    break;
  case Kind::limit:
  case Kind::stopped:
  case Kind::end:
    break;
  }
  if (fixed == SIZE_MAX)
    fixed = 0;
  out->insert(out->end(), head, head + kCommonSize + fixed);
  out->insert(out->end(), r.data.begin(), r.data.end());
  for (std::uint64_t left = runs == 0 ? 0 : r.repeats - 1; left > 0;) {
    const std::uint32_t n = clamp_u32(left);
    std::uint8_t more[16];
    common(more, Kind::repeat, kNoNode, 0, -1);
    put_u32(more + kCommonSize, n);
    out->insert(out->end(), more, more + sizeof more);
    left -= n;
  }
}

RecordWriter::RecordWriter(int fd, std::uint32_t ticks_per_second, std::size_t block_size)
    : fd_(fd), block_size_(block_size), block_(kBlockHeaderSize) {
  std::uint8_t header[kHeaderSize];
  encode_header(header, ticks_per_second);
  ok_ = write_all(header, sizeof header);
}

bool RecordWriter::write_all(const std::uint8_t *p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      errno_ = w == 0 ? EIO : errno;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool RecordWriter::send() {
  const std::size_t length = block_.size() - kBlockHeaderSize;
  put_u32(block_.data(), static_cast<std::uint32_t>(length));
  put_u32(block_.data() + 4, sequence_++);
  put_u32(block_.data() + 8,
          crc32(block_.data() + kBlockHeaderSize, length, crc32(block_.data(), 8)));
  ok_ = ok_ && write_all(block_.data(), block_.size());
  block_.resize(kBlockHeaderSize);
  return ok_;
}

bool RecordWriter::add(const Record &record) {
  if (ok_) {
    const std::size_t had = block_.size();
    encode_record(record, &block_);
    if (had > kBlockHeaderSize && block_.size() - kBlockHeaderSize > block_size_) {
      // The record opens the next block.
      const std::vector<std::uint8_t> next(block_.begin() + static_cast<std::ptrdiff_t>(had),
                                           block_.end());
      block_.resize(had);
      if (send())
        block_.insert(block_.end(), next.begin(), next.end());
    }
  }
  errno = ok_ ? errno : errno_;
  return ok_;
}

bool RecordWriter::finish() {
  Record end;
  end.kind = Kind::end;
  if (add(end))
    send();
  errno = ok_ ? errno : errno_;
  return ok_;
}

std::string normalize_path(const char *path) {
  std::string out;
  const char *p = path;
  while (*p != '\0') {
    while (*p == '/')
      ++p;
    const char *start = p;
    while (*p != '\0' && *p != '/')
      ++p;
    const std::string part(start, p);
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      const auto slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
      continue;
    }
    out += '/';
    out += part;
  }
  if (out.empty())
    out = "/";
  // Keep a trailing slash: "/home/.../dap/" is still a directory.
  if (p != path && *(p - 1) == '/' && out != "/")
    out += '/';
  return out;
}

std::uint8_t classify_path(const char *path, bool *dapl) {
  *dapl = false;
  if (path == nullptr || path[0] != '/')
    return kNoNode;
  const std::string n = normalize_path(path);
  if (n == "/dev/accel0")
    return kAccel0;
  if (n == "/dev/accel1")
    return kAccel1;
  const std::string directory(kDaplDirectory, sizeof kDaplDirectory - 2);
  if (n.compare(0, directory.size(), directory) == 0 &&
      (n.size() == directory.size() || n[directory.size()] == '/'))
    *dapl = true;
  return kNoNode;
}

// --------------------------------------------------------------- writing

Writer::Writer(int fd, std::uint64_t limit, std::uint32_t ticks_per_second, WriteFn write_fn,
               std::size_t buffer_size)
    : fd_(fd), limit_(limit), write_(write_fn),
      buffer_(static_cast<std::uint8_t *>(std::malloc(kBlockHeaderSize + buffer_size))),
      capacity_(buffer_size) {
  if (buffer_ == nullptr)
    capacity_ = 0;
  origin_ = ::lseek(fd, 0, SEEK_CUR);
  std::uint8_t header[kHeaderSize];
  encode_header(header, ticks_per_second);
  size_ = kHeaderSize;
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
  stopped_ = true;
  used_ = 0;
  const off_t whole = origin_ + static_cast<off_t>(committed_);
  // Without its header the file is no session file: no mark can help it.
  if (origin_ >= 0 && ::ftruncate(fd_, whole) == 0 && committed_ >= kHeaderSize &&
      ::lseek(fd_, whole, SEEK_SET) == whole) {
    std::uint8_t mark[kBlockHeaderSize + 2 * kCommonSize];
    common(mark + kBlockHeaderSize, Kind::stopped, kNoNode, error, -1);
    common(mark + kBlockHeaderSize + kCommonSize, Kind::end, kNoNode, 0, -1);
    put_u32(mark, 2 * kCommonSize);
    put_u32(mark + 4, sequence_);
    put_u32(mark + 8, crc32(mark + kBlockHeaderSize, 2 * kCommonSize, crc32(mark, 8)));
    if (write_all(mark, sizeof mark) == 0) {
      committed_ += sizeof mark;
    } else if (::ftruncate(fd_, whole) != 0) {
      // Nothing more can be done: a reader finds the file cut short.
    }
  }
  size_ = committed_;
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

void Writer::put(const void *bytes, std::size_t count) {
  if (failed_error_ != 0)
    return;
  if (used_ + count > capacity_)
    flush();
  if (count > capacity_) {
    // A whole record the buffer cannot hold (it has none): a block of its own.
    size_ += kBlockHeaderSize + count;
    send_block(static_cast<const std::uint8_t *>(bytes), count, nullptr, 0);
    return;
  }
  if (used_ == 0)
    size_ += kBlockHeaderSize;
  size_ += count;
  std::memcpy(buffer_ + kBlockHeaderSize + used_, bytes, count);
  used_ += count;
}

void Writer::flush() {
  if (used_ > 0 && failed_error_ == 0)
    send_block(buffer_ + kBlockHeaderSize, used_, nullptr, 0);
  used_ = 0;
}

// A record after the end record: the end goes, to be written again.
bool Writer::reopen() {
  if (!ended_)
    return true;
  if (failed_error_ != 0 || origin_ < 0)
    return false;
  const off_t at = origin_ + static_cast<off_t>(end_at_);
  if (::ftruncate(fd_, at) != 0 || ::lseek(fd_, at, SEEK_SET) != at)
    return false;
  committed_ = size_ = end_at_;
  --sequence_;
  ended_ = false;
  return true;
}

// Room for `count` more bytes, with what is pending and the limit and end
// records still to come. At the limit: the marker, one message, and
// nothing more.
bool Writer::fits(std::size_t count) {
  if (stopped_ || !reopen())
    return false;
  constexpr std::size_t kReserve = 3 * 16 + kCommonSize + 3 * kBlockHeaderSize;
  if (size_ + count + kBlockHeaderSize + kReserve <= limit_)
    return true;
  emit_repeat();
  emit_clock();
  std::uint8_t head[kCommonSize];
  common(head, Kind::limit, kNoNode, 0, -1);
  put(head, sizeof head);
  flush();
  stopped_ = true;
  say("daprec: the session file reached its limit of " + std::to_string(limit_) +
      " bytes; recording stopped (the calls still go through)\n");
  return false;
}

void Writer::emit_repeat() {
  if (pending_repeats_ == 0)
    return;
  while (pending_repeats_ > 0) {
    const std::uint32_t n = clamp_u32(pending_repeats_);
    std::uint8_t head[16];
    common(head, Kind::repeat, kNoNode, 0, -1);
    put_u32(head + kCommonSize, n);
    put(head, sizeof head);
    pending_repeats_ -= n;
  }
}

// An open, a close or a release ends a clock run, so that the times()
// values of a command call are written before its last record and a cut
// keeps them.
void Writer::end_clock_run() {
  if (stopped_ || clock_count_ == 0 || !reopen())
    return;
  emit_repeat();
  emit_clock();
}

void Writer::emit_clock() {
  if (clock_count_ == 0)
    return;
  while (clock_count_ > 0) {
    const std::uint32_t n = clamp_u32(clock_count_);
    std::uint8_t head[16];
    common(head, Kind::clock, kNoNode, 0, clock_value_);
    put_u32(head + kCommonSize, n);
    put(head, sizeof head);
    clock_count_ -= n;
  }
  // A clock record between two equal records keeps them apart.
  last_size_ = 0;
}

void Writer::add(const std::uint8_t *head, std::size_t head_size, const void *data,
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
  if (head_size + data_size > capacity_) {
    flush();
    size_ += kBlockHeaderSize + head_size + data_size;
    send_block(head, head_size, data, data_size);
  } else {
    // A record never spans two blocks.
    if (used_ + head_size + data_size > capacity_)
      flush();
    put(head, head_size);
    if (data_size > 0)
      put(data, data_size);
  }
  if (data_size == 0 && head_size <= sizeof last_) {
    std::memcpy(last_, head, head_size);
    last_size_ = head_size;
  } else {
    last_size_ = 0;
  }
}

void Writer::open(std::uint8_t node, std::int64_t tick, int result, int error) {
  end_clock_run();
  std::uint8_t head[16];
  common(head, Kind::open, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, from_i32(result));
  add(head, sizeof head, nullptr, 0);
}

void Writer::read(std::uint8_t node, std::int64_t tick, std::size_t asked, ssize_t result,
                  int error, const void *bytes) {
  std::uint8_t head[20];
  common(head, Kind::read, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, clamp_u32(asked));
  put_u32(head + kCommonSize + 4, from_i32(clamp_i32(result)));
  const std::size_t n = result > 0 ? static_cast<std::size_t>(clamp_i32(result)) : 0;
  add(head, sizeof head, bytes, n);
}

void Writer::write(std::uint8_t node, std::int64_t tick, std::size_t count, ssize_t result,
                   int error, const void *bytes) {
  std::uint8_t head[20];
  // Without the bytes (a buffer the system refused) the record says it
  // offered none, so that it stays as long as it says it is.
  const std::uint32_t shown = bytes == nullptr ? 0 : clamp_u32(count);
  common(head, Kind::write, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, shown);
  put_u32(head + kCommonSize + 4, from_i32(clamp_i32(result)));
  add(head, sizeof head, bytes, shown);
}

void Writer::ioctl(std::uint8_t node, std::int64_t tick, unsigned long request, int result,
                   int error, std::int32_t value) {
  std::uint8_t head[24];
  common(head, Kind::ioctl, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, clamp_u32(request));
  put_u32(head + kCommonSize + 4, from_i32(result));
  put_u32(head + kCommonSize + 8, from_i32(value));
  add(head, sizeof head, nullptr, 0);
}

void Writer::close(std::uint8_t node, std::int64_t tick, int result, int error) {
  end_clock_run();
  std::uint8_t head[16];
  common(head, Kind::close, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, from_i32(result));
  add(head, sizeof head, nullptr, 0);
}

void Writer::release(std::uint8_t node, std::int64_t tick, int fd) {
  end_clock_run();
  std::uint8_t head[16];
  common(head, Kind::release, node, 0, tick);
  put_u32(head + kCommonSize, from_i32(fd));
  add(head, sizeof head, nullptr, 0);
}

void Writer::dapl(std::int64_t tick, const char *path, int result, int error) {
  const std::size_t length = std::strlen(path);
  std::uint8_t head[20];
  common(head, Kind::dapl, kNoNode, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, from_i32(result));
  put_u32(head + kCommonSize + 4, clamp_u32(length));
  last_size_ = 0;
  add(head, sizeof head, path, std::min<std::size_t>(length, UINT32_MAX));
}

void Writer::loader(std::int64_t tick, const char *command_line, int status, int error) {
  const std::size_t length = std::strlen(command_line);
  std::uint8_t head[20];
  common(head, Kind::loader, kNoNode, status == -1 ? error : 0, tick);
  put_u32(head + kCommonSize, from_i32(status));
  put_u32(head + kCommonSize + 4, clamp_u32(length));
  last_size_ = 0;
  add(head, sizeof head, command_line, std::min<std::size_t>(length, UINT32_MAX));
}

void Writer::clock(std::int64_t value) {
  if (stopped_ || !reopen())
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

void Writer::interrupt(std::int64_t tick, Interrupt means) {
  end_clock_run();
  std::uint8_t head[16];
  common(head, Kind::interrupt, kNoNode, 0, tick);
  put_u32(head + kCommonSize, static_cast<std::uint32_t>(means));
  last_size_ = 0; // two Ctrl-Cs in a row are two, not one repeated
  add(head, sizeof head, nullptr, 0);
}

void Writer::finish() {
  if (failed_error_ != 0 || ended_)
    return;
  if (!stopped_) {
    emit_repeat();
    emit_clock();
  }
  flush();
  std::uint8_t head[kCommonSize];
  common(head, Kind::end, kNoNode, 0, -1);
  const std::uint64_t at = committed_;
  put(head, sizeof head);
  flush();
  if (failed_error_ == 0) {
    end_at_ = at;
    ended_ = true;
  }
}

} // namespace dapsession
