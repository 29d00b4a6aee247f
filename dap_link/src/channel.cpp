#include "dap_link/channel.h"

#include <fcntl.h>
#include <sys/ioctl.h>
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
void warn_program(const char *path, const char *what, int error) {
  char reason[128];
  char message[256];
  std::snprintf(message, sizeof message, "DAPL program \"%s\" could not be %s: %s", path, what,
                strerror_r(error, reason, sizeof reason));
  warn("dap:programNotFound", message);
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
  return static_cast<int>(write(fd, line, std::strlen(line)));
}

int DAPSendFile(int fd, const char *path) {
  if (withheld())
    return -1;
  const int file = open(path, O_RDONLY);
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
  char block[kFileBlock];
  int total = 0;
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
    if (sent < 0) {
      close(file);
      return -1;
    }
    total += static_cast<int>(sent);
  }
  close(file);
  return total;
}

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

int DAPWrite(int fd, const void *buffer, std::size_t count) {
  if (withheld())
    return -1;
  return static_cast<int>(write(fd, buffer, count));
}

void dap::detail::set_warning_sink(void (*sink)(const char *id, const char *message)) {
  g_warning_sink.store(sink);
}

void dap::reset_board(int text_fd, int binary_fd) {
  DAPSendLine(text_fd, "\rRESET\r");
  DAPFlush(text_fd);
  DAPFlush(binary_fd);
}

int dap::send_dapl_file(int text_fd, const char *name) {
  char path[kPathBufferSize];
  if (!dapl_path(path, sizeof path, name)) {
    warn_program(name, "opened", ENAMETOOLONG);
    return -1;
  }
  return DAPSendFile(text_fd, path);
}
