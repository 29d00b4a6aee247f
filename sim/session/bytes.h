// Little-endian fields of session files, and two's complement both ways
// without an out-of-range conversion. For the units of the format only.
#pragma once

#include <cstdint>

namespace dapsession::bytes {

inline void put_u16(std::uint8_t *out, std::uint16_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(std::uint8_t *out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_u64(std::uint8_t *out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t get_u16(const std::uint8_t *in) {
  return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}
inline std::uint32_t get_u32(const std::uint8_t *in) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | in[i];
  return v;
}
inline std::uint64_t get_u64(const std::uint8_t *in) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i)
    v = (v << 8) | in[i];
  return v;
}
inline std::uint32_t from_i32(std::int32_t v) { return static_cast<std::uint32_t>(v); }
inline std::int32_t to_i32(std::uint32_t v) {
  return v <= 0x7FFFFFFFu ? static_cast<std::int32_t>(v) : -static_cast<std::int32_t>(~v) - 1;
}
inline std::uint64_t from_i64(std::int64_t v) { return static_cast<std::uint64_t>(v); }
inline std::int64_t to_i64(std::uint64_t v) {
  return v <= 0x7FFFFFFFFFFFFFFFull ? static_cast<std::int64_t>(v)
                                    : -static_cast<std::int64_t>(~v) - 1;
}
inline std::int32_t clamp_i32(std::int64_t v) {
  if (v > INT32_MAX)
    return INT32_MAX;
  if (v < INT32_MIN)
    return INT32_MIN;
  return static_cast<std::int32_t>(v);
}
inline std::uint32_t clamp_u32(std::uint64_t v) {
  return v > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(v);
}

} // namespace dapsession::bytes
