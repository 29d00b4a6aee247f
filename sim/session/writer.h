// Writing a session file: the header, the records in checked blocks, the end
// record. The one writer of the format, under both the recorder (through a
// Recording) and `dapsession cut`.
//
// Records go into a block in memory, so that a record costs no system call
// of its own; the block goes to the file when the next record would not fit
// in it, on flush() and on finish(). A record never spans two blocks; one
// bigger than a block is a block of its own. When a write of the file fails,
// nothing more is written: the file is cut back to its last whole block,
// keeps as many of the records that were waiting in memory as still fit,
// and gets a stopped record (the errno) and its end record when they fit;
// failed_error() and kept() tell the owner.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format.h"

namespace dapsession {

class Writer {
public:
  using WriteFn = ssize_t (*)(int, const void *, size_t);
  // How the end record goes: as the last record of the last block, nothing
  // more to come (`sealed`); or in a block of its own, which a record that
  // comes later takes back, to be written again by the next finish()
  // (`reopenable`: a recording whose process may yet do more at exit).
  enum class Ending { sealed, reopenable };

  // Writes the header to `fd` at once, and closes `fd` never: the owner
  // does. `write_fn` writes (the recorder's must not go through its own
  // interposer).
  Writer(int fd, std::uint32_t ticks_per_second, WriteFn write_fn = ::write,
         std::size_t block_size = std::size_t{1} << 20);
  ~Writer();
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;

  // One record in the file's encoding: `head`, then `data_size` bytes of
  // `data` (which may be elsewhere: they are not copied twice).
  void add(const void *head, std::size_t head_size, const void *data = nullptr,
           std::size_t data_size = 0);
  // One record as read back, encoded where it goes.
  void add(const Record &record);

  // The block in progress goes to the file: what a reader finds if the
  // process ends now.
  void flush();
  // What went to the kernel reaches the disk (fdatasync). A failure stops
  // the file as a failed write does.
  void sync();
  // Flushes, and writes the end record.
  void finish(Ending ending);
  // Before a record that comes after a reopenable end record: takes it
  // back. False when it cannot be (the file cannot be cut back).
  bool reopen();

  // The file's size, with what is held for the block in progress.
  std::uint64_t size() const { return committed_ + (used_ > 0 ? kBlockHeaderSize + used_ : 0); }
  // The errno of the write that failed (0: none failed), and the bytes the
  // file kept: whole blocks, with the stopped and end records when they fit.
  int failed_error() const { return failed_error_; }
  std::uint64_t kept() const { return committed_; }

private:
  // Writes all of it; the errno of the failure otherwise.
  int write_all(const void *bytes, std::size_t count);
  bool send(const void *bytes, std::size_t count);
  void send_block(const std::uint8_t *head, std::size_t head_size, const void *data,
                  std::size_t data_size);
  void frame(std::uint8_t *block, const std::uint8_t *payload, std::size_t size,
             std::uint32_t sequence) const;
  bool keep(std::size_t n, int error, bool commit);
  void write_failed(int error, bool buffered);

  int fd_;
  WriteFn write_;
  std::uint8_t *buffer_; // a block: its header, then `used_` bytes of records
  std::size_t capacity_; // of records in it
  std::size_t used_ = 0;
  std::vector<std::uint8_t> oversize_; // a record read back, too big for a block
  std::uint32_t sequence_ = 0;
  off_t origin_ = -1;           // where the file starts (-1: cannot be cut back)
  std::uint64_t committed_ = 0; // bytes written whole
  std::uint64_t end_at_ = 0;    // where a reopenable end record's block starts
  bool ended_ = false;
  Ending ending_ = Ending::sealed;
  int failed_error_ = 0;
};

} // namespace dapsession
