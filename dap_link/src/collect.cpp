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

std::size_t take_record(int fd, RecordFramer &framer, std::uint32_t start, std::int32_t last_tick) {
  do {
    if (framer.poll(fd))
      return framer.size();
  } while (!interrupted() && ticks_since(start) <= last_tick);
  return interrupted() ? framer.have() : framer.read(fd);
}

std::size_t take_record(int fd, std::uint8_t *record, std::size_t size, std::uint32_t start,
                        std::int32_t last_tick) {
  if (size == 0 || size > 64)
    return 0;
  RecordFramer framer(record, size);
  return take_record(fd, framer, start, last_tick);
}

bool take_block(int fd, double *samples, int sample_count, std::int32_t last_tick) {
  const int bytes = 2 * sample_count;
  if (sample_count <= 0 || bytes > 2048)
    return false;
  wait_readable(fd, bytes, ticks_now(), last_tick);
  if (interrupted() || DAPGetAvail(fd) < bytes)
    return false;
  // Read in one piece, as the driver said it holds it; only a read that
  // comes back short is completed by further polls.
  std::uint8_t staging[2048];
  SampleAssembler assembler(samples, static_cast<std::size_t>(sample_count));
  const int got = read_data(fd, staging, static_cast<std::size_t>(bytes));
  const int taken = got > 0 ? got : 0;
  assembler.take(staging, taken, 0);
  if (taken < bytes)
    take_stream(fd, staging, static_cast<int>(sizeof staging), bytes - taken, ticks_now(),
                last_tick, [&](const std::uint8_t *chunk, int count, int offset) {
                  assembler.take(chunk, count, taken + offset);
                });
  return true;
}

} // namespace dap
