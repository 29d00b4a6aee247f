#include "dap_link/channel.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dap_link/convert.h"
#include "dap_link/ticks.h"

namespace {

// Driver requests; plain numbers, the value always goes through a pointer to a
// 32-bit int in our storage.
constexpr unsigned long kRequestReadable = 1;
constexpr unsigned long kRequestWritable = 2;
constexpr unsigned long kRequestTimeout = 14;
constexpr unsigned long kRequestVersion = 15;

constexpr std::size_t kFileBlock = 1024;
constexpr std::size_t kDrainBlock = 2048;
constexpr useconds_t kDrainPause = 100000;
// The largest DAPL program is a few kilobytes; a path to anything bigger (a
// device, a log) must not hold the call or stream into the board for ever.
constexpr long kTransferLimit = 16L * 1024 * 1024;
// A driver that reports bytes ready but fails every read would keep a drain
// going for ever, as would a board that never stops sending.
constexpr int kDrainFailedReads = 10;
constexpr std::int32_t kDrainTicks = 1000;

std::atomic<void (*)(const char *, const char *)> g_warning_sink{nullptr};

void warn(const char *id, const char *message) {
  if (auto sink = g_warning_sink.load())
    sink(id, message);
}

// A program that cannot be sent is no error (the call goes on, as scripts
// expect), but the operator hears which one and why.
void warn_program(const char *path, const char *what, const char *reason) {
  char message[256];
  std::snprintf(message, sizeof message, "DAPL program \"%s\" could not be %s: %s", path, what,
                reason);
  warn("dap:programNotFound", message);
}

void warn_program(const char *path, const char *what, int error) {
  char reason[128];
  warn_program(path, what, strerror_r(error, reason, sizeof reason));
}

// The channels the session holds, by the names the operator knows them by.
struct ChannelName {
  std::atomic<int> fd{-1};
  std::atomic<const char *> name{nullptr};
};
ChannelName g_channel_names[2];

// A call hears of its first refused write only: once the driver refuses,
// every later write of the call is likely refused too.
std::atomic<bool> g_write_refusal_said{false};

// What was being sent, as the warning shows it: a line in C escapes (it
// holds carriage returns), cut short if long.
void describe_line(char *out, std::size_t size, const char *line) {
  constexpr std::size_t kShown = 60;
  std::size_t used = std::snprintf(out, size, "the line \"");
  std::size_t i = 0;
  for (; line[i] != '\0' && i < kShown && used + 8 < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    const char *escape = c == '\r'   ? "\\r"
                         : c == '\n' ? "\\n"
                         : c == '"'  ? "\\\""
                         : c == '\\' ? "\\\\"
                                     : nullptr;
    if (escape != nullptr)
      used += std::snprintf(out + used, size - used, "%s", escape);
    else if (c < 0x20 || c >= 0x7f)
      used += std::snprintf(out + used, size - used, "\\x%02x", c);
    else
      out[used++] = static_cast<char>(c);
  }
  std::snprintf(out + used, size - used, "%s\"", line[i] != '\0' ? "..." : "");
}

// A write that failed (`sent` < 0, `error` its errno) or took less than
// `count` bytes: the operator hears which channel refused what, and why. A
// write that a Ctrl-C kept from being made is nothing to hear about.
void note_refused_write(int fd, const char *what, long sent, std::size_t count, int error) {
  if (sent >= 0 && static_cast<std::size_t>(sent) >= count)
    return;
  if (sent < 0 && error == EINTR && dap::interrupted())
    return;
  if (g_write_refusal_said.exchange(true))
    return;
  char channel[32];
  std::snprintf(channel, sizeof channel, "descriptor %d", fd);
  for (const ChannelName &named : g_channel_names) {
    const char *name = named.name.load();
    if (name != nullptr && named.fd.load() == fd)
      std::snprintf(channel, sizeof channel, "%s", name);
  }
  char reason[128];
  char message[256];
  if (sent < 0)
    std::snprintf(message, sizeof message, "writing %s to %s failed: %s", what, channel,
                  strerror_r(error, reason, sizeof reason));
  else
    std::snprintf(message, sizeof message, "writing %s to %s took %ld of %zu bytes", what, channel,
                  sent, count);
  warn("dap:writeFailed", message);
}

// Once Ctrl-C has ended the call, no device operation is made: the guard
// has let go of the channels (when the host took the interrupt itself, it
// lets go of them now, from this very check), and a command without the
// guard sends nothing more either. The operation fails as a call cut short
// by a signal would.
bool withheld() {
  if (!dap::device_withheld())
    return false;
  errno = EINTR;
  return true;
}

int query(int fd, unsigned long request) {
  if (withheld())
    return -1;
  std::int32_t value = 0;
  // Only a return of exactly 0 is success: some drivers answer with a
  // positive count and leave the value untouched.
  if (ioctl(fd, request, &value) != 0)
    return -1;
  return value;
}

} // namespace

int DAPGetAvail(int fd) { return query(fd, kRequestReadable); }

int DAPPutAvail(int fd) { return query(fd, kRequestWritable); }

int DAPAccelVersion(int fd) { return query(fd, kRequestVersion); }

int DAPSetTimeout(int fd, int timeout) {
  if (withheld())
    return -1;
  std::int32_t value = timeout;
  return ioctl(fd, kRequestTimeout, &value) == 0 ? 0 : -1;
}

int DAPSendLine(int fd, const char *line) {
  if (withheld())
    return -1;
  const std::size_t length = std::strlen(line);
  const int sent = static_cast<int>(write(fd, line, length));
  if (sent < 0 || static_cast<std::size_t>(sent) < length) {
    const int error = errno;
    char what[128];
    describe_line(what, sizeof what, line);
    note_refused_write(fd, what, sent, length, error);
    errno = error;
  }
  return sent;
}

int dap::send_file(int fd, const char *path, bool *refused) {
  if (refused != nullptr)
    *refused = false;
  if (withheld())
    return -1;
  // Without blocking: a FIFO that no one writes to would hold the open, and
  // with it the call, for good.
  const int file = open(path, O_RDONLY | O_NONBLOCK);
  if (file < 0) {
    warn_program(path, "opened", errno);
    return -1;
  }
  if (file == 0) {
    // Only possible with standard input closed; we do not count descriptor 0
    // as an opened file, but we must not leave it open either.
    close(file);
    return 0;
  }
  // A DAPL program is a file: a FIFO, a device (/dev/zero would stream for
  // ever) or a folder is no program, however it is named.
  struct stat status {};
  if (fstat(file, &status) != 0) {
    warn_program(path, "read", errno);
    close(file);
    return -1;
  }
  if (!S_ISREG(status.st_mode)) {
    close(file);
    warn_program(path, "sent", "not a regular file");
    return -1;
  }
  char what[128];
  std::snprintf(what, sizeof what, "DAPL program \"%.96s\"", path);
  char block[kFileBlock];
  int total = 0;
  bool read_any = false;
  for (long taken = 0;; taken += static_cast<long>(sizeof block)) {
    if (taken >= kTransferLimit) {
      warn("dap:transferBounded",
           "DAPL file transfer stopped after 16 MiB: no DAPL program is that large");
      break;
    }
    const ssize_t got = read(file, block, sizeof block);
    if (got < 0) {
      warn_program(path, "read", errno);
      close(file);
      return -1;
    }
    if (got == 0)
      break;
    read_any = true;
    // The board ends DAPL lines with a carriage return; files are kept with
    // line feeds.
    for (ssize_t i = 0; i < got; ++i)
      if (block[i] == '\n')
        block[i] = '\r';
    // A Ctrl-C during the transfer ends it here, not after the whole file.
    if (withheld()) {
      close(file);
      return -1;
    }
    const ssize_t sent = write(fd, block, static_cast<std::size_t>(got));
    note_refused_write(fd, what, static_cast<long>(sent), static_cast<std::size_t>(got), errno);
    if (sent < 0) {
      close(file);
      if (refused != nullptr)
        *refused = total == 0 && !dap::interrupted();
      return -1;
    }
    total += static_cast<int>(sent);
  }
  close(file);
  if (refused != nullptr)
    *refused = total == 0 && read_any;
  return total;
}

int DAPSendFile(int fd, const char *path) { return dap::send_file(fd, path, nullptr); }

int DAPFlush(int fd) {
  char drain[kDrainBlock];
  int total = 0;
  int failed_reads = 0;
  const std::uint32_t start = dap::ticks_now();
  for (;;) {
    // A board that keeps sending would keep us here; Ctrl-C must not.
    if (dap::interrupted())
      return total;
    int ready = DAPGetAvail(fd);
    if (ready <= 0) {
      // A Ctrl-C has taken the channels away: nothing is left to wait for,
      // and the call must end within a tick, not after another pause.
      if (dap::interrupted())
        return total;
      // Drained only after two empty answers 0.1 s apart: the board may still
      // be finishing a record.
      usleep(kDrainPause);
      ready = DAPGetAvail(fd);
      if (ready <= 0)
        return total;
      continue; // ask once more before reading
    }
    const std::size_t n =
        ready < static_cast<int>(kDrainBlock) ? static_cast<std::size_t>(ready) : kDrainBlock;
    const int got = DAPRead(fd, drain, n);
    total += got;
    failed_reads = got < 0 ? failed_reads + 1 : 0;
    if (failed_reads >= kDrainFailedReads) {
      warn("dap:drainFailed", "draining a DAP channel stopped: its reads keep failing");
      return total;
    }
    if (dap::ticks_since(start) > kDrainTicks) {
      warn("dap:drainBounded", "draining a DAP channel stopped after 10 s of continuous data");
      return total;
    }
  }
}

int DAPRead(int fd, void *buffer, std::size_t count) {
  if (withheld())
    return -1;
  return static_cast<int>(read(fd, buffer, count));
}

int dap::read_data(int fd, void *buffer, std::size_t count) {
  const int got = DAPRead(fd, buffer, count);
  // After a Ctrl-C the read was never made (EINTR): nothing is missing then
  // that the operator did not ask for.
  if (got < 0 && errno != EINTR) {
    char reason[128];
    char message[256];
    std::snprintf(message, sizeof message,
                  "reading the binary channel failed (%s): the results lack what it held",
                  strerror_r(errno, reason, sizeof reason));
    warn("dap:readFailed", message);
  }
  return got;
}

namespace {

// A table sent in one write. PairSend sends what a short write left over
// again, so only a failed write is a refusal to it; to everyone else a short
// write is one too.
int write_table(int fd, const void *buffer, std::size_t count, bool short_is_refusal) {
  if (withheld())
    return -1;
  const int sent = static_cast<int>(write(fd, buffer, count));
  if (sent < 0 || (short_is_refusal && static_cast<std::size_t>(sent) < count)) {
    const int error = errno;
    char what[64];
    std::snprintf(what, sizeof what, "a table of %zu bytes", count);
    note_refused_write(fd, what, sent, count, sent < 0 ? error : 0);
    errno = error;
  }
  return sent;
}

} // namespace

int dap::write_some(int fd, const void *buffer, std::size_t count) {
  return write_table(fd, buffer, count, false);
}

int DAPWrite(int fd, const void *buffer, std::size_t count) {
  return write_table(fd, buffer, count, true);
}

void dap::detail::set_warning_sink(void (*sink)(const char *id, const char *message)) {
  g_write_refusal_said.store(false);
  g_warning_sink.store(sink);
}

void dap::detail::name_channel(int fd, const char *name) {
  for (ChannelName &named : g_channel_names)
    if (named.fd.load() == fd || (name != nullptr && named.name.load() == name)) {
      named.fd.store(-1);
      named.name.store(nullptr);
    }
  if (name == nullptr || fd < 0)
    return;
  for (ChannelName &named : g_channel_names)
    if (named.name.load() == nullptr) {
      named.name.store(name);
      named.fd.store(fd);
      return;
    }
}

void dap::detail::forget_channel_names() {
  for (ChannelName &named : g_channel_names) {
    named.fd.store(-1);
    named.name.store(nullptr);
  }
}

bool dap::start_tasks(int text_fd, const char *line) { return DAPSendLine(text_fd, line) > 0; }

void dap::reset_board(int text_fd, int binary_fd) {
  DAPSendLine(text_fd, "\rRESET\r");
  DAPFlush(text_fd);
  DAPFlush(binary_fd);
}

int dap::send_dapl_file(int text_fd, const char *name, bool *refused) {
  if (refused != nullptr)
    *refused = false;
  char path[kPathBufferSize];
  if (!dapl_path(path, sizeof path, name)) {
    warn_program(name, "opened", ENAMETOOLONG);
    return -1;
  }
  return dap::send_file(text_fd, path, refused);
}
