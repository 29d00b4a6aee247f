// The waveform table that WaveOut, WaveData and PairOut send: 602 signed
// 16-bit entries, little-endian, in one 1204-byte write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dap_link/convert.h"

namespace stimulus {

inline constexpr std::size_t kWaveEntries = 602;

struct WaveformTable {
  std::uint8_t bytes[2 * kWaveEntries];

  std::int16_t entry(std::size_t i) const { return dap::le_i16(bytes + 2 * i); }
};

// Entry i from element i of `values`, which the gateway has checked to hold
// at least kWaveEntries elements.
inline WaveformTable make_waveform_table(const double *values) {
  WaveformTable table{};
  for (std::size_t i = 0; i < kWaveEntries; ++i)
    dap::put_le16(table.bytes + 2 * i, dap::to_int16(values[i]));
  return table;
}

} // namespace stimulus
