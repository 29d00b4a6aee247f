#include "session.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

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
  put_u32(out + 12, 0);
}

bool parse_session(const std::vector<std::uint8_t> &bytes, Session *session, std::string *error) {
  *session = Session{};
  if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    *error = "not a session file";
    return false;
  }
  session->version = get_u16(&bytes[6]);
  if (session->version == 0 || session->version > kVersion) {
    *error = "session file version " + std::to_string(session->version) +
             " is newer than this reader (" + std::to_string(kVersion) + ")";
    return false;
  }
  session->ticks_per_second = get_u32(&bytes[8]);
  std::size_t at = kHeaderSize;
  const std::size_t end = bytes.size();
  while (at < end) {
    const std::size_t start = at;
    if (end - at < kCommonSize) {
      session->truncated = true;
      break;
    }
    Record r;
    const std::uint8_t *p = &bytes[at];
    const auto kind = p[0];
    if (kind < 1 || kind > static_cast<std::uint8_t>(Kind::interrupt)) {
      *error = "unknown record kind " + std::to_string(kind) + " at byte " + std::to_string(at);
      return false;
    }
    r.kind = static_cast<Kind>(kind);
    r.node = p[1];
    r.error = get_u16(p + 2);
    r.tick = to_i64(get_u64(p + 4));
    at += kCommonSize;
    std::size_t fixed = 0;
    switch (r.kind) {
    case Kind::open:
    case Kind::close:
    case Kind::release:
    case Kind::clock:
    case Kind::repeat:
    case Kind::interrupt:
      fixed = 4;
      break;
    case Kind::read:
    case Kind::write:
    case Kind::dapl:
    case Kind::loader:
      fixed = 8;
      break;
    case Kind::ioctl:
      fixed = 12;
      break;
    case Kind::limit:
      fixed = 0;
      break;
    }
    if (end - at < fixed) {
      session->truncated = true;
      break;
    }
    p = &bytes[at];
    std::size_t data = 0;
    switch (r.kind) {
    case Kind::open:
    case Kind::close:
    case Kind::release:
    case Kind::interrupt:
      r.result = to_i32(get_u32(p));
      break;
    case Kind::clock:
    case Kind::repeat:
      r.repeats = get_u32(p);
      break;
    case Kind::read:
      r.asked = get_u32(p);
      r.result = to_i32(get_u32(p + 4));
      data = r.result > 0 ? static_cast<std::size_t>(r.result) : 0;
      break;
    case Kind::write:
      r.asked = get_u32(p);
      r.result = to_i32(get_u32(p + 4));
      data = r.asked;
      break;
    case Kind::dapl:
    case Kind::loader:
      r.result = to_i32(get_u32(p));
      data = get_u32(p + 4);
      break;
    case Kind::ioctl:
      r.asked = get_u32(p);
      r.result = to_i32(get_u32(p + 4));
      r.value = to_i32(get_u32(p + 8));
      break;
    case Kind::limit:
      session->limit_reached = true;
      break;
    }
    at += fixed;
    if (end - at < data) {
      session->truncated = true;
      break;
    }
    r.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + data));
    at += data;
    r.offset = start;
    r.size = at - start;
    if (r.kind == Kind::repeat) {
      if (session->records.empty()) {
        *error = "a repeat record with nothing before it at byte " + std::to_string(start);
        return false;
      }
      session->records.back().repeats += r.repeats;
      session->records.back().size += r.size;
      continue;
    }
    session->records.push_back(std::move(r));
  }
  return true;
}

bool read_session(const std::string &path, Session *session, std::string *error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  while (true) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0)
      break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  if (!parse_session(bytes, session, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
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
      buffer_(static_cast<std::uint8_t *>(std::malloc(buffer_size))), capacity_(buffer_size) {
  if (buffer_ == nullptr)
    capacity_ = 0;
  std::uint8_t header[kHeaderSize];
  encode_header(header, ticks_per_second);
  put(header, sizeof header);
}

Writer::~Writer() { std::free(buffer_); }

// The first write that fails ends the file there: carrying on after it would
// leave a gap (a full disk that frees space later) that no reader gets past.
void Writer::send(const void *bytes, std::size_t count) {
  if (failed_errno_ != 0)
    return;
  const int saved = errno;
  const auto *p = static_cast<const std::uint8_t *>(bytes);
  while (count > 0) {
    const ssize_t n = write_(fd_, p, count);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      failed_errno_ = n < 0 && errno != 0 ? errno : ENOSPC;
      stopped_ = true;
      break;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
    kept_ += static_cast<std::uint64_t>(n);
  }
  errno = saved;
}

void Writer::put(const void *bytes, std::size_t count) {
  size_ += count;
  if (used_ + count > capacity_) {
    flush();
    if (count > capacity_) {
      send(bytes, count);
      return;
    }
  }
  std::memcpy(buffer_ + used_, bytes, count);
  used_ += count;
}

void Writer::flush() {
  if (used_ > 0)
    send(buffer_, used_);
  used_ = 0;
}

// Room for `count` more bytes, with what is pending and the limit record
// still to come. At the limit: the marker, one message, and nothing more.
bool Writer::fits(std::size_t count) {
  if (stopped_)
    return false;
  constexpr std::size_t kReserve = 3 * 16;
  if (size_ + count + kReserve <= limit_)
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
  put(head, head_size);
  if (data_size > 0)
    put(data, data_size);
  if (data_size == 0 && head_size <= sizeof last_) {
    std::memcpy(last_, head, head_size);
    last_size_ = head_size;
  } else {
    last_size_ = 0;
  }
}

void Writer::open(std::uint8_t node, std::int64_t tick, int result, int error) {
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
  std::uint8_t head[16];
  common(head, Kind::close, node, result < 0 ? error : 0, tick);
  put_u32(head + kCommonSize, from_i32(result));
  add(head, sizeof head, nullptr, 0);
}

void Writer::release(std::uint8_t node, std::int64_t tick, int fd) {
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
  if (stopped_)
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
  if (!fits(16))
    return;
  emit_repeat();
  emit_clock();
  std::uint8_t head[16];
  common(head, Kind::interrupt, kNoNode, 0, tick);
  put_u32(head + kCommonSize, static_cast<std::uint32_t>(means));
  last_size_ = 0;
  add(head, sizeof head, nullptr, 0);
}

void Writer::finish() {
  if (!stopped_) {
    emit_repeat();
    emit_clock();
  }
  flush();
}

} // namespace dapsession
