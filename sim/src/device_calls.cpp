// The host's calls on a device channel: the descriptor's bookkeeping, a slow
// driver's time, then the answer: from a replay when one runs, else from the
// board model (its buffers and faults, and the board behind them).
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "deferred.h"
#include "simulator.h"
#include "text.h"

namespace dapsim {

namespace {

// Devices let go of by a handler that interrupted a device call on the same
// thread (handlers of different signals may nest).
struct Release {
  int fd;
  int node;
  bool closed;
};
Deferred<Release, 16> g_deferred;
std::atomic<unsigned> g_releases_lost{0}; // every slot was taken

// Whether the host may hand [buffer, buffer + count) to a driver: mapped,
// and writable too when the driver is to write into it. A driver finds out
// as it copies to or from user space and answers EFAULT; we ask the kernel
// the same question, through a copy of one byte of every page to and from
// our own process, so that a bad pointer never becomes a crash of the host.
// The byte written back is the one read, the host's own.
bool host_buffer_usable(const void *buffer, std::size_t count, bool written) {
  if (count == 0)
    return true;
  if (buffer == nullptr)
    return false;
  const auto first = reinterpret_cast<std::uintptr_t>(buffer);
  if (first + count < first)
    return false;
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const pid_t self = getpid();
  for (std::uintptr_t at = first; at < first + count; at = (at / page + 1) * page) {
    unsigned char byte = 0;
    struct iovec local = {&byte, 1};
    struct iovec remote = {reinterpret_cast<void *>(at), 1};
    const ssize_t got = process_vm_readv(self, &local, 1, &remote, 1, 0);
    if (got < 0 && errno != EFAULT)
      return true; // no way to ask here: the buffer is taken at its word
    if (got != 1)
      return false;
    if (written && process_vm_writev(self, &local, 1, &remote, 1, 0) != 1)
      return false;
  }
  return true;
}

std::string write_call(int node, const std::uint8_t *bytes, std::size_t count) {
  const std::string shown =
      node == kTextNode ? text::quoted(bytes, count) : text::hex(bytes, count, false);
  return std::string("write ") + node_name(node) + " " + std::to_string(count) + " " + shown;
}

} // namespace

// The wait comes before the operation, which then serves what the board has
// done meanwhile. On the virtual clock the ticks pass as a sleep's would:
// tasks run, scheduled data and interrupts come at their ticks, and an
// interrupt for a handler ends the wait there.
void Simulator::take_time(int node) {
  if (node < 0)
    return;
  std::int64_t real_us = 0;
  locked([&] {
    const auto ticks = devices_.slowness(node);
    if (!ticks)
      return 0;
    const std::int64_t span = *ticks * Clock::kMicrosecondsPerTick;
    if (clock_.real())
      real_us = span;
    else
      advance_to(clock_.now_us() + span);
    return 0;
  });
  if (real_us == 0)
    return;
  const int saved_errno = errno;
  const struct timespec span = {static_cast<time_t>(real_us / 1000000),
                                static_cast<long>(real_us % 1000000) * 1000};
  real::nanosleep()(&span, nullptr);
  errno = saved_errno;
}

int Simulator::model_open(int node) {
  const NodeFaults &f = devices_.faults(node);
  if (f.missing)
    return *f.missing;
  return f.openzero ? -1 : 0;
}

int Simulator::open_device(int node) {
  take_time(node);
  return locked([&]() -> int {
    sync_real_clock();
    const std::string call = std::string("open ") + node_name(node);
    if (!replay_refused_.empty())
      return failed_operation(call, EIO);
    const int answer = replay_ ? replay_->open(node) : model_open(node);
    if (answer > 0)
      return failed_operation(call, answer);
    if (answer < 0) {
      devices_.bind_zero(node);
      trace(call + " fd=0");
      count_operation();
      return 0;
    }
    int fd = real::open()("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd == 0) {
      // With standard input closed the number would be 0, which callers
      // rightly take as a failed open.
      const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
      real::close()(fd);
      fd = moved;
    }
    if (fd < 0 || fd >= kFdSlots) {
      const int error = fd < 0 ? errno : EMFILE;
      if (fd >= 0)
        real::close()(fd);
      return failed_operation(call, error);
    }
    devices_.bind(fd, node);
    trace(call + " fd=" + std::to_string(fd));
    count_operation();
    return fd;
  });
}

// The host's buffer is no buffer: the call fails as the system's would.
ssize_t Simulator::bad_buffer(int node, dapsession::Kind kind) {
  if (replay_)
    replay_->bad_buffer(node, kind);
  errno = EFAULT;
  return -1;
}

ssize_t Simulator::model_read(int node, void *buffer, size_t count) {
  const std::string call = std::string("read ") + node_name(node) + " " + std::to_string(count);
  if (const auto error = devices_.faults(node).readfail)
    return failed_operation(call, *error);
  const std::size_t n = devices_.readable(node, count);
  devices_.take(node, static_cast<std::uint8_t *>(buffer), n);
  trace(call + " -> " + std::to_string(n));
  count_operation();
  return static_cast<ssize_t>(n);
}

ssize_t Simulator::read_device(int fd, void *buffer, size_t count) {
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> ssize_t {
    if (!host_buffer_usable(buffer, count, true))
      return bad_buffer(node, dapsession::Kind::read);
    return replay_ ? replay_->read(node, buffer, count) : model_read(node, buffer, count);
  });
  return result ? *result : real::read()(fd, buffer, count);
}

ssize_t Simulator::model_write(int node, const std::uint8_t *bytes, size_t count) {
  const std::string call = write_call(node, bytes, count);
  if (const auto error = devices_.write_failure(node))
    return failed_operation(call, *error);
  std::size_t n = devices_.writable(node, count);
  if (node == kBinaryNode)
    n = std::min(n, board_.binary_input_room());
  devices_.accepted(node, bytes, n);
  trace(call + " -> " + std::to_string(n));
  count_operation();
  if (node == kTextNode)
    board_.text_from_host(bytes, n);
  else
    board_.binary_from_host(bytes, n);
  return static_cast<ssize_t>(n);
}

ssize_t Simulator::write_device(int fd, const void *buffer, size_t count) {
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> ssize_t {
    if (!host_buffer_usable(buffer, count, false))
      return bad_buffer(node, dapsession::Kind::write);
    const auto *bytes = static_cast<const std::uint8_t *>(buffer);
    return replay_ ? replay_->write(node, bytes, count) : model_write(node, bytes, count);
  });
  return result ? *result : real::write()(fd, buffer, count);
}

int Simulator::model_ioctl(int node, unsigned long request, void *argument) {
  const std::string call = std::string("ioctl ") + node_name(node) + " " + std::to_string(request);
  auto fail = [&](int error) { return failed_operation(call, error); };
  const bool known = request == 1 || request == 2 || request == 14 || request == 15;
  if (!known)
    return fail(ENOTTY);
  const std::optional<IoctlFault> fault = devices_.ioctl_fault(node, request);
  if (fault && fault->fail)
    return fail(fault->value);
  if (argument == nullptr)
    return fail(EFAULT);
  // The host's int may sit at any address; copy rather than dereference.
  std::int32_t value;
  std::memcpy(&value, argument, sizeof value);
  switch (request) {
  case 1:
    value = static_cast<std::int32_t>(devices_.pending(node));
    break;
  case 2:
    if (node == kTextNode)
      value = static_cast<std::int32_t>(DeviceNodes::kTextFifoSize);
    else if (const auto freespace = devices_.next_freespace())
      value = *freespace;
    else
      value = static_cast<std::int32_t>(board_.binary_input_room());
    break;
  case 14:
    devices_.set_timeout(node, value);
    break;
  case 15:
    value = 0x0100;
    break;
  }
  if (request != 14)
    std::memcpy(argument, &value, sizeof value);
  const int rc = fault ? fault->value : 0;
  trace(call + " -> " + std::to_string(rc) + " value=" + std::to_string(value));
  count_operation();
  return rc;
}

int Simulator::ioctl_device(int fd, unsigned long request, void *argument) {
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> int {
    // A bad pointer is answered as no pointer: after the request is known
    // and any refusal of the driver's own.
    const bool usable = host_buffer_usable(argument, sizeof(std::int32_t), request != 14);
    void *const checked = usable ? argument : nullptr;
    return replay_ ? replay_->ioctl(node, request, checked) : model_ioctl(node, request, checked);
  });
  return result ? *result : real::ioctl()(fd, request, argument);
}

int Simulator::close_device(int fd) {
  if (holds_lock()) {
    // As in released(): from a handler that interrupted a device call.
    const bool phantom_zero = fd == 0 && devices_.zero_is_device();
    defer_release(fd, true);
    g_sigint_activity.fetch_add(1);
    return phantom_zero ? 0 : real::close()(fd);
  }
  take_time(device_node(fd));
  const auto result = on_device(fd, [&](int node) -> int {
    devices_.unbind(fd);
    const bool replayed = replay_close(node, true);
    trace(std::string("close ") + node_name(node) + (replayed ? "" : " -> -1 errno=5"));
    count_operation();
    g_sigint_activity.fetch_add(1);
    if (fd == 0 && devices_.unbind_zero())
      return 0;
    const int rc = real::close()(fd);
    if (!replayed) {
      errno = EIO;
      return -1;
    }
    return rc;
  });
  return result ? *result : real::close()(fd);
}

void Simulator::defer_release(int fd, bool closed) {
  const int node = device_node(fd);
  if (node < 0)
    return;
  g_fd_node[fd].store(0, std::memory_order_release);
  if (!g_deferred.push({fd, node, closed}))
    g_releases_lost.fetch_add(1);
}

// Runs with the lock held, on the thread whose handler deferred.
void Simulator::settle_deferred() {
  // Looked at before it is taken: each device call passes here.
  if (g_releases_lost.load(std::memory_order_relaxed) != 0) {
    const unsigned lost = g_releases_lost.exchange(0);
    const std::string message = "dapsim: " + std::to_string(lost) +
                                " device release(s) by a signal handler lost (more than 16 in one "
                                "call); the board still counts those channels open\n";
    trace(message.substr(8, message.size() - 9));
    real::write_all(2, message.data(), message.size());
  }
  g_deferred.drain([this](const Release &r) {
    devices_.forget(r.fd);
    replay_close(r.node, r.closed);
    trace(std::string(r.closed ? "close " : "release ") + node_name(r.node) +
          (r.closed ? std::string() : " fd=" + std::to_string(r.fd)));
    count_operation();
  });
}

void Simulator::released(int fd) {
  if (holds_lock()) {
    // A handler interrupted this thread inside a device call: the model is
    // ours but mid-change, and taking the lock again would never return.
    defer_release(fd, false);
    g_sigint_activity.fetch_add(1);
    return;
  }
  locked([&] {
    const int node = device_node(fd);
    if (node < 0)
      return 0;
    if (fd == 0)
      devices_.unbind_zero();
    devices_.unbind(fd);
    sync_real_clock();
    replay_close(node, false);
    trace(std::string("release ") + node_name(node) + " fd=" + std::to_string(fd));
    count_operation();
    return 0;
  });
  g_sigint_activity.fetch_add(1);
}

void Simulator::reclaimed(int fd) {
  locked([&] {
    const int node = device_node(fd);
    if (!devices_.unbind(fd))
      return 0;
    trace(std::string("stale ") + node_name(node) + " fd=" + std::to_string(fd));
    return 0;
  });
}

} // namespace dapsim
