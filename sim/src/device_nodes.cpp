#include "device_nodes.h"

#include <algorithm>
#include <utility>

namespace dapsim {

std::atomic<std::int8_t> g_fd_node[kFdSlots];

const char *node_name(int node) { return node == kTextNode ? "accel0" : "accel1"; }

void DeviceNodes::power_on() {
  if (zero_is_device_) {
    g_fd_node[0].store(0, std::memory_order_release);
    --open_count_;
    zero_is_device_ = false;
  }
  fifo_[0].clear();
  fifo_[1].clear();
  clear_faults();
  written_[0].clear();
  written_[1].clear();
  timeout_[0] = timeout_[1] = 0;
}

void DeviceNodes::bind(int fd, int node) {
  g_fd_node[fd].store(static_cast<std::int8_t>(node + 1), std::memory_order_release);
  ++open_count_;
}

bool DeviceNodes::unbind(int fd) {
  if (device_node(fd) < 0)
    return false;
  g_fd_node[fd].store(0, std::memory_order_release);
  --open_count_;
  return true;
}

void DeviceNodes::bind_zero(int node) {
  if (zero_is_device_)
    return;
  zero_is_device_ = true;
  bind(0, node);
}

bool DeviceNodes::unbind_zero() { return std::exchange(zero_is_device_, false); }

void DeviceNodes::forget(int fd) {
  if (fd == 0)
    zero_is_device_ = false;
  --open_count_;
}

std::size_t DeviceNodes::push(int node, const std::uint8_t *bytes, std::size_t count) {
  const std::size_t taken = std::min(room(node), count);
  fifo_[node].insert(fifo_[node].end(), bytes, bytes + taken);
  return count - taken;
}

std::size_t DeviceNodes::room(int node) const {
  const std::size_t capacity = node == kBinaryNode ? kBinaryFifoSize : kTextFifoSize;
  return capacity - std::min(capacity, fifo_[node].size());
}

void DeviceNodes::take(int node, std::uint8_t *out, std::size_t count) {
  std::copy_n(fifo_[node].begin(), count, out);
  fifo_[node].erase(fifo_[node].begin(), fifo_[node].begin() + static_cast<std::ptrdiff_t>(count));
}

void DeviceNodes::accepted(int node, const std::uint8_t *bytes, std::size_t count) {
  written_[node].insert(written_[node].end(), bytes, bytes + count);
}

void DeviceNodes::clear_faults() {
  for (auto &f : faults_)
    f = NodeFaults{};
  freespace_.clear();
  freespace_next_ = 0;
}

void DeviceNodes::set_freespace(std::vector<std::int32_t> values) {
  freespace_ = std::move(values);
  freespace_next_ = 0;
}

std::optional<std::int32_t> DeviceNodes::next_freespace() {
  if (freespace_.empty())
    return std::nullopt;
  const std::int32_t value = freespace_[std::min(freespace_next_, freespace_.size() - 1)];
  if (freespace_next_ < freespace_.size())
    ++freespace_next_;
  return value;
}

// A counted fault wears off after the operations it changed; those it had no
// need to change (nothing more was there) do not use it up.
std::size_t DeviceNodes::readable(int node, std::size_t count) {
  NodeFaults &f = faults_[node];
  std::size_t n = std::min(count, fifo_[node].size());
  if (f.shortread && n > *f.shortread) {
    n = *f.shortread;
    if (f.shortread_left && --*f.shortread_left == 0) {
      f.shortread.reset();
      f.shortread_left.reset();
    }
  }
  return n;
}

std::size_t DeviceNodes::writable(int node, std::size_t count) {
  NodeFaults &f = faults_[node];
  std::size_t n = count;
  if (f.shortwrite && n > *f.shortwrite) {
    n = *f.shortwrite;
    if (f.shortwrite_left && --*f.shortwrite_left == 0) {
      f.shortwrite.reset();
      f.shortwrite_left.reset();
    }
  }
  return n;
}

std::optional<int> DeviceNodes::write_failure(int node) {
  NodeFaults &f = faults_[node];
  const std::optional<int> error = f.writefail;
  if (f.writefail && f.writefail_left && --*f.writefail_left == 0) {
    f.writefail.reset();
    f.writefail_left.reset();
  }
  return error;
}

std::optional<IoctlFault> DeviceNodes::ioctl_fault(int node, unsigned long request) {
  auto &faults = faults_[node].ioctl;
  const auto f = faults.find(request);
  if (f == faults.end())
    return std::nullopt;
  const IoctlFault fault = f->second;
  if (f->second.left && --*f->second.left == 0)
    faults.erase(f);
  return fault;
}

std::optional<std::int64_t> DeviceNodes::slowness(int node) {
  NodeFaults &f = faults_[node];
  const std::optional<std::int64_t> ticks = f.slow;
  if (f.slow && f.slow_left && --*f.slow_left == 0) {
    f.slow.reset();
    f.slow_left.reset();
  }
  return ticks;
}

} // namespace dapsim
