#include "dap_link/ticks.h"

#include <sys/times.h>

#include <atomic>

namespace dap {
namespace {
std::atomic<bool> g_interrupted{false};
std::atomic<bool (*)()> g_probe{nullptr};
std::atomic<bool> g_keep_device{false};
} // namespace

std::uint32_t ticks_now() {
  struct tms unused;
  // clock_t is wider than 32 bits here; the low 32 bits are the counter the
  // windows are measured on, and the subtraction below handles their wrap.
  return static_cast<std::uint32_t>(static_cast<unsigned long>(times(&unused)));
}

std::int32_t tick_difference(std::uint32_t later, std::uint32_t earlier) {
  const std::uint32_t d = later - earlier;
  // Written out rather than cast: the value of an out-of-range unsigned to
  // signed conversion is not ours to rely on.
  if (d <= 0x7FFFFFFFu)
    return static_cast<std::int32_t>(d);
  return -static_cast<std::int32_t>(~d) - 1;
}

std::int32_t ticks_since(std::uint32_t start) { return tick_difference(ticks_now(), start); }

bool interrupted() {
  if (g_interrupted.load(std::memory_order_acquire))
    return true;
  bool (*probe)() = g_probe.load(std::memory_order_acquire);
  return probe != nullptr && probe();
}

bool device_withheld() { return !g_keep_device.load(std::memory_order_acquire) && interrupted(); }

bool wait_ticks_from(std::uint32_t start, std::int32_t n) {
  while (ticks_since(start) <= n - 1)
    if (interrupted())
      return false;
  return !interrupted();
}

bool wait_ticks(std::int32_t n) { return wait_ticks_from(ticks_now(), n); }

namespace detail {
void set_interrupted(bool value) { g_interrupted.store(value, std::memory_order_release); }
void set_interrupt_probe(bool (*probe)()) { g_probe.store(probe, std::memory_order_release); }
void set_keep_device_after_interrupt(bool keep) {
  g_keep_device.store(keep, std::memory_order_release);
}
} // namespace detail

} // namespace dap
