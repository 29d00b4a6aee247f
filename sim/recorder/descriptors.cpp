// Which descriptor numbers the host opened on a device node: 0 none, else
// node + 1.
#include <atomic>

#include "recorder.h"

namespace daprec {
namespace {

std::atomic<std::uint8_t> g_fd_node[kFdSlots];

} // namespace

int device_node(int fd) {
  if (fd < 0 || fd >= kFdSlots)
    return -1;
  return g_fd_node[fd].load(std::memory_order_acquire) - 1;
}

void mark_device(int fd, int node) {
  if (fd >= 0 && fd < kFdSlots)
    g_fd_node[fd].store(static_cast<std::uint8_t>(node + 1), std::memory_order_release);
}

void forget_device(int fd) {
  if (fd >= 0 && fd < kFdSlots)
    g_fd_node[fd].store(0, std::memory_order_release);
}

} // namespace daprec
