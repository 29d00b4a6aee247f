// Number conversion, little-endian fields and DAPL directory paths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dap {

// A MATLAB double sent to the board: truncated toward zero to a signed 32-bit
// integer. NaN and values outside the 32-bit range give -2147483648.
std::int32_t to_int32(double value);

// A 16-bit field: the low 16 bits of to_int32(value) as a signed value
// (40000 gives -25536, 65536 gives 0, NaN gives 0).
std::int16_t to_int16(double value);

// Little-endian field decoding, byte by byte.
inline std::uint16_t le_u16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t le_i16(const std::uint8_t *p) {
  const std::uint16_t u = le_u16(p);
  return u < 0x8000u ? static_cast<std::int16_t>(u)
                     : static_cast<std::int16_t>(static_cast<int>(u) - 0x10000);
}
// An unsigned 32-bit value sent low 16-bit word first (each word low byte first).
inline std::uint32_t le_u32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(le_u16(p)) | (static_cast<std::uint32_t>(le_u16(p + 2)) << 16);
}
inline void put_le16(std::uint8_t *p, std::int16_t v) {
  const std::uint16_t u = static_cast<std::uint16_t>(v);
  p[0] = static_cast<std::uint8_t>(u & 0xFFu);
  p[1] = static_cast<std::uint8_t>(u >> 8);
}

// The folder the commands load their DAPL files from.
inline constexpr char kDaplDirectory[] = "/home/labrig/matlab/intrfc/dap/";
inline constexpr std::size_t kPathBufferSize = 80;

// Puts the DAPL directory, `name` and `extension` into `buffer` (`size` bytes
// with the NUL). Returns false, leaving an empty string, when they do not fit.
bool dapl_path(char *buffer, std::size_t size, const char *name, const char *extension = "");

} // namespace dap
