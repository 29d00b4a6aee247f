// Collection loops shared by the read commands. All of them poll the binary
// channel without sleeping, measure their window on the tick clock and end
// within a tick of a Ctrl-C.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dap_link/channel.h"
#include "dap_link/convert.h"
#include "dap_link/ticks.h"

namespace dap {

// Polls until at least `bytes` are readable or the window closes. The count is
// tested first, then the clock; polling goes on while ticks_since(start) is at
// most `last_tick`. Returns true when the bytes are there.
bool wait_readable(int fd, int bytes, std::uint32_t start, std::int32_t last_tick);

// The one way a record is read from the binary channel: the rest of the
// record is asked for once the channel holds all of it, and a read that comes
// back short keeps what arrived, so the next read completes the record and
// every later record stays in frame. No command reads a record otherwise.
class RecordFramer {
public:
  // `record` holds `size` bytes (at most 64).
  RecordFramer(std::uint8_t *record, std::size_t size) : record_(record), size_(size) {}

  // One poll: reads the rest once the channel holds all of it. True when the
  // record is complete (it stays so until restart()).
  bool poll(int fd) {
    if (complete())
      return true;
    if (DAPGetAvail(fd) < static_cast<int>(size_ - have_))
      return false;
    read(fd);
    return complete();
  }

  // One read of the rest, taking whatever comes: for a record the driver
  // already said it holds, and for what came of one when its window closed,
  // so that no part of it lingers in front of the next reader. Returns the
  // bytes of the record held.
  std::size_t read(int fd) {
    if (complete())
      return have_;
    const int got = read_data(fd, record_ + have_, size_ - have_);
    if (got > 0)
      have_ += static_cast<std::size_t>(got);
    return have_;
  }

  bool complete() const { return have_ == size_; }
  std::size_t have() const { return have_; }
  std::size_t size() const { return size_; }
  void restart() { have_ = 0; }

private:
  std::uint8_t *record_;
  std::size_t size_;
  std::size_t have_ = 0;
};

// Takes whole records of `size` bytes (size <= 64) while ticks_since(start) is
// at most `last_tick`, tested at the top of every iteration, framed as
// RecordFramer does. Each complete record is handed to
// on_record(const std::uint8_t *record); a record still incomplete when the
// window closes is dropped.
template <class OnRecord>
void collect_records(int fd, std::size_t size, std::uint32_t start, std::int32_t last_tick,
                     OnRecord &&on_record) {
  std::uint8_t record[64];
  if (size == 0 || size > sizeof record)
    return;
  RecordFramer framer(record, size);
  while (!interrupted() && ticks_since(start) <= last_tick) {
    if (framer.poll(fd)) {
      on_record(static_cast<const std::uint8_t *>(record));
      framer.restart();
    }
  }
}

// Completes the framer's record: polls, at least once, while
// ticks_since(start) is at most `last_tick`; when the window closes on an
// incomplete record, one more read takes whatever comes of it (none after a
// Ctrl-C). Returns the bytes of the record held (its size when it is whole);
// bytes that did not come are left as they were.
std::size_t take_record(int fd, RecordFramer &framer, std::uint32_t start, std::int32_t last_tick);

// The same for one record of `size` bytes (size <= 64) read into `record`.
std::size_t take_record(int fd, std::uint8_t *record, std::size_t size, std::uint32_t start,
                        std::int32_t last_tick);

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
      const int got = read_data(fd, staging, static_cast<std::size_t>(n));
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

// Turns a byte stream that arrives in chunks of any size into consecutive
// signed 16-bit samples: sample k is made of stream bytes 2k and 2k + 1 however
// the chunks split them. A chunk that ends between the two bytes of a sample
// keeps its byte for the next chunk, so an odd-sized read never shifts the rest
// of the stream by a byte. Feed it the chunks of take_stream in order.
class SampleAssembler {
public:
  SampleAssembler(double *samples, std::size_t count) : samples_(samples), count_(count) {}

  void take(const std::uint8_t *bytes, int count, int offset) {
    if (count <= 0)
      return;
    int i = 0;
    // The second byte of a word the last read split.
    if (offset % 2 != 0) {
      pair_[1] = bytes[0];
      store(static_cast<std::size_t>(offset / 2), pair_);
      i = 1;
    }
    // Whole words, the common case, straight from the buffer.
    std::size_t k = static_cast<std::size_t>((static_cast<long>(offset) + i) / 2);
    const int words = (count - i) / 2;
    const std::size_t room = k < count_ ? count_ - k : 0;
    const std::size_t stored =
        static_cast<std::size_t>(words) < room ? static_cast<std::size_t>(words) : room;
    const std::uint8_t *word = bytes + i;
    for (std::size_t w = 0; w < stored; ++w, word += 2)
      samples_[k + w] = static_cast<std::int16_t>(word[0] | (word[1] << 8));
    i += 2 * words;
    // The first byte of a word the next read completes.
    if (i < count)
      pair_[0] = bytes[i];
  }

private:
  void store(std::size_t k, const std::uint8_t *pair) {
    if (k < count_)
      samples_[k] = le_i16(pair);
  }

  double *samples_;
  std::size_t count_;
  std::uint8_t pair_[2] = {0, 0};
};

// Collects up to `sample_count` signed 16-bit samples from the stream, reading
// whatever is readable at each poll (at most 2048 bytes a read), into
// samples[0..sample_count). The window and its tests are those of take_stream.
// Samples whose bytes did not arrive are left as they were. Returns the bytes
// taken.
inline int take_samples(int fd, double *samples, int sample_count, std::uint32_t start,
                        std::int32_t last_tick) {
  std::uint8_t staging[2048];
  SampleAssembler assembler(samples, static_cast<std::size_t>(sample_count));
  return take_stream(fd, staging, static_cast<int>(sizeof staging), 2 * sample_count, start,
                     last_tick, [&](const std::uint8_t *bytes, int count, int offset) {
                       assembler.take(bytes, count, offset);
                     });
}

// One block of `sample_count` signed 16-bit samples (at most 1024), taken only
// when the channel holds all of it: waits as wait_readable does, then asks
// once more, so a block that is ready just as the window closes is still
// taken in its own slot. A block that is not there is left in the driver and
// `samples` untouched. A read that comes back short is completed by the next
// ones (within another window of the same length), so later blocks keep their
// place in the stream. Returns true when the block was taken.
bool take_block(int fd, double *samples, int sample_count, std::int32_t last_tick);

} // namespace dap
