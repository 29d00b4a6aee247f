#include "device_nodes.h"

#include <algorithm>
#include <utility>

namespace dapsim {

namespace {

// A fault counted with `left` wears off after the operations it changed.
template <typename T>
std::optional<T> use(std::optional<T> &fault, std::optional<std::uint64_t> &left) {
  const std::optional<T> value = fault;
  if (fault && left && --*left == 0) {
    fault.reset();
    left.reset();
  }
  return value;
}

// Operations it had no need to cut (nothing more was there) do not use it up.
std::size_t cut_short(std::optional<std::size_t> &max, std::optional<std::uint64_t> &left,
                      std::size_t n) {
  return max && n > *max ? *use(max, left) : n;
}

} // namespace

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

std::size_t DeviceNodes::readable(int node, std::size_t count) {
  NodeFaults &f = faults_[node];
  return cut_short(f.shortread, f.shortread_left, std::min(count, fifo_[node].size()));
}

std::size_t DeviceNodes::writable(int node, std::size_t count) {
  NodeFaults &f = faults_[node];
  return cut_short(f.shortwrite, f.shortwrite_left, count);
}

std::optional<int> DeviceNodes::write_failure(int node) {
  return use(faults_[node].writefail, faults_[node].writefail_left);
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
  return use(faults_[node].slow, faults_[node].slow_left);
}

} // namespace dapsim
