#include "dap_link/convert.h"

#include <cmath>
#include <cstring>

namespace dap {

std::int32_t to_int32(double value) {
  // Converting a double outside the target range is undefined, so the range
  // is checked first; NaN fails both comparisons.
  if (!(value > -2147483649.0 && value < 2147483648.0))
    return INT32_MIN;
  return static_cast<std::int32_t>(std::trunc(value));
}

std::int16_t to_int16(double value) {
  const std::uint32_t bits = static_cast<std::uint32_t>(to_int32(value));
  const std::uint16_t low = static_cast<std::uint16_t>(bits & 0xFFFFu);
  return low < 0x8000u ? static_cast<std::int16_t>(low)
                       : static_cast<std::int16_t>(static_cast<int>(low) - 0x10000);
}

bool dapl_path(char *buffer, std::size_t size, const char *name, const char *extension) {
  const std::size_t dir = sizeof kDaplDirectory - 1;
  const std::size_t n = std::strlen(name);
  const std::size_t e = std::strlen(extension);
  if (size == 0)
    return false;
  if (dir + n + e + 1 > size) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, kDaplDirectory, dir);
  std::memcpy(buffer + dir, name, n);
  std::memcpy(buffer + dir + n, extension, e);
  buffer[dir + n + e] = '\0';
  return true;
}

} // namespace dap
