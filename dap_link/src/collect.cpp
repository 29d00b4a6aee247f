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

} // namespace dap
