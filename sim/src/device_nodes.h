// The two device nodes as the driver keeps them: which descriptors stand for
// them, the buffers toward the host, what the host wrote, and the faults a
// scenario puts on them. No clock, no board, no trace: the callers tell.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dapsim {

enum Node : int { kTextNode = 0, kBinaryNode = 1 };
const char *node_name(int node);

// Which descriptor numbers are device channels: 0 = not ours, 1 = accel0,
// 2 = accel1. Lock-free so that the host's own descriptors never wait on the
// model.
constexpr int kFdSlots = 65536;
extern std::atomic<std::int8_t> g_fd_node[kFdSlots];
inline int device_node(int fd) {
  if (fd < 0 || fd >= kFdSlots)
    return -1;
  return g_fd_node[fd].load(std::memory_order_acquire) - 1;
}

struct IoctlFault {
  bool fail = false;
  int value = 0; // errno when failing, the return value otherwise
  // Requests still to answer this way; none: every one is.
  std::optional<std::uint64_t> left;
};

struct NodeFaults {
  std::optional<int> missing;
  bool openzero = false;
  std::map<unsigned long, IoctlFault> ioctl;
  std::optional<std::size_t> shortwrite;
  // Writes still to cut short; none: every write is.
  std::optional<std::uint64_t> shortwrite_left;
  std::optional<int> writefail;
  // Writes still to fail; none: every write does.
  std::optional<std::uint64_t> writefail_left;
  std::optional<int> readfail;
  std::optional<std::size_t> shortread;
  // Reads still to cut short; none: every read is.
  std::optional<std::uint64_t> shortread_left;
  // Ticks the driver takes over each operation, and how many operations
  // are still to take them (none: every one does).
  std::optional<std::int64_t> slow;
  std::optional<std::uint64_t> slow_left;
};

class DeviceNodes {
public:
  static constexpr std::size_t kBinaryFifoSize = 65536;
  static constexpr std::size_t kTextFifoSize = 4096;

  // Empty buffers, no faults; descriptor 0 is no longer a device (the
  // host's real descriptors stay open).
  void power_on();

  // Descriptors.
  void bind(int fd, int node);
  // The number stops being a device; false when it was not one.
  bool unbind(int fd);
  // Descriptor 0 stands for `node` (fault openzero) until it is closed; the
  // host's real descriptor 0 (standard input) is never touched for it.
  void bind_zero(int node);
  bool zero_is_device() const { return zero_is_device_; }
  // Descriptor 0 was let go of; true when it stood for a device.
  bool unbind_zero();
  int open_count() const { return open_count_; }
  // Bookkeeping of a descriptor whose number was already cleared.
  void forget(int fd);

  // Board to host: what fits; returns how many bytes were lost.
  std::size_t push(int node, const std::uint8_t *bytes, std::size_t count);
  std::size_t pending(int node) const { return fifo_[node].size(); }
  std::size_t room(int node) const;
  void take(int node, std::uint8_t *out, std::size_t count);

  // Host to board: what the node accepted (for `written`).
  void accepted(int node, const std::uint8_t *bytes, std::size_t count);
  const std::vector<std::uint8_t> &written(int node) const { return written_[node]; }
  void set_timeout(int node, std::int32_t value) { timeout_[node] = value; }

  // Faults. The counted ones wear off as they are used.
  NodeFaults &faults(int node) { return faults_[node]; }
  void clear_faults();
  void set_freespace(std::vector<std::int32_t> values);
  // The next answer to request 2 of the free-space sequence, if one is set.
  std::optional<std::int32_t> next_freespace();
  // How many bytes a read of `count` delivers (a short-read fault cuts it).
  std::size_t readable(int node, std::size_t count);
  // How many bytes of `count` a write takes (a short-write fault cuts it).
  std::size_t writable(int node, std::size_t count);
  std::optional<int> write_failure(int node);
  std::optional<IoctlFault> ioctl_fault(int node, unsigned long request);
  // Ticks a slow driver takes over this operation.
  std::optional<std::int64_t> slowness(int node);

private:
  std::deque<std::uint8_t> fifo_[2];
  std::vector<std::uint8_t> written_[2];
  std::int32_t timeout_[2] = {0, 0};
  NodeFaults faults_[2];
  std::vector<std::int32_t> freespace_;
  std::size_t freespace_next_ = 0;
  int open_count_ = 0;
  bool zero_is_device_ = false;
};

} // namespace dapsim
