// Collection loops shared by the read commands. All of them poll the binary
// channel without sleeping, measure their window on the tick clock and end
// within a tick of a Ctrl-C.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dap_link/channel.h"
#include "dap_link/ticks.h"

namespace dap {

// Polls until at least `bytes` are readable or the window closes. The count is
// tested first, then the clock; polling goes on while ticks_since(start) is at
// most `last_tick`. Returns true when the bytes are there.
bool wait_readable(int fd, int bytes, std::uint32_t start, std::int32_t last_tick);

// Takes whole records of `size` bytes (size <= 64) while ticks_since(start) is
// at most `last_tick`, tested at the top of every iteration. Each record whose
// bytes all arrived is handed to on_record(const std::uint8_t *record).
template <class OnRecord>
void collect_records(int fd, std::size_t size, std::uint32_t start, std::int32_t last_tick,
                     OnRecord &&on_record) {
  std::uint8_t record[64];
  if (size > sizeof record)
    return;
  while (!interrupted() && ticks_since(start) <= last_tick) {
    if (DAPGetAvail(fd) < static_cast<int>(size))
      continue;
    if (DAPRead(fd, record, size) == static_cast<int>(size))
      on_record(static_cast<const std::uint8_t *>(record));
  }
}

// Takes a byte stream: up to `total` bytes, at most `staging_size` per read,
// whatever is readable at each poll. After every poll, the window test (stop
// when ticks_since(start) > last_tick) comes before the completion test, so
// there is always at least one poll. on_chunk(const std::uint8_t *bytes,
// int count, int offset) gets the bytes that actually arrived and the number
// of bytes counted before them. Returns the bytes counted.
template <class OnChunk>
int take_stream(int fd, std::uint8_t *staging, int staging_size, int total, std::uint32_t start,
                std::int32_t last_tick, OnChunk &&on_chunk) {
  int counted = 0;
  while (!interrupted()) {
    int n = DAPGetAvail(fd);
    if (n > total - counted)
      n = total - counted;
    if (n > staging_size)
      n = staging_size;
    if (n > 0) {
      const int got = DAPRead(fd, staging, static_cast<std::size_t>(n));
      if (got > 0) {
        on_chunk(static_cast<const std::uint8_t *>(staging), got, counted);
        counted += got;
      }
    }
    if (ticks_since(start) > last_tick || counted >= total)
      break;
  }
  return counted;
}

} // namespace dap
