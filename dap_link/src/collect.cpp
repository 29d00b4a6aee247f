#include "dap_link/collect.h"

namespace dap {

bool wait_readable(int fd, int bytes, std::uint32_t start, std::int32_t last_tick) {
  while (!interrupted()) {
    if (DAPGetAvail(fd) >= bytes)
      return true;
    if (ticks_since(start) > last_tick)
      return false;
  }
  return false;
}

bool take_block(int fd, double *samples, int sample_count, std::int32_t last_tick) {
  const int bytes = 2 * sample_count;
  if (sample_count <= 0 || bytes > 2048)
    return false;
  wait_readable(fd, bytes, ticks_now(), last_tick);
  if (interrupted() || DAPGetAvail(fd) < bytes)
    return false;
  take_samples(fd, samples, sample_count, ticks_now(), last_tick);
  return true;
}

} // namespace dap
