// Reading a session file, record by record, holding one block (or, for
// version 1, what one record needs) at a time.
//
// Every failure names the file and the bytes where the damage is: a file
// that is empty, is no session file, comes from a newer writer, fails a
// block's check or ends inside a record (version 1) is refused, never read
// in part. A version 2 file that ends without its end record (its recording
// process died, or a copy of it was cut) is unfinished: it is read up to its
// last whole, checked block, and unfinished() says so; what follows that
// block must be the start of a block, cut short, or nothing. What a reader
// is for (a check of the whole file, an outline of its calls, a replay's
// queue) is said by the ReadOptions it is made with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "block_cache.h"
#include "format.h"

namespace dapsession {

struct ReadOptions {
  using Filter = bool (*)(const Record &, int);

  // Every record with all its data; every block checked.
  static ReadOptions whole() { return ReadOptions{}; }
  // Every block checked, no record's data copied: whether a replay would
  // take the file, and what it holds.
  static ReadOptions check_only();
  // Every block checked; data only where it is text (accel0's bytes, DAPL
  // paths, loader command lines): enough to find the command calls.
  static ReadOptions outline();
  // Every block checked; reads and writes on accel1 carry at most `cap`
  // bytes of their data (data_size says how much there is; fetch() reads
  // it whole).
  static ReadOptions browse(std::size_t cap);
  // A file already read whole once, read again: blocks are not checked
  // again. `cap` as for browse().
  static ReadOptions reread(std::size_t cap = SIZE_MAX);
  // A file already read whole once, read for some of its records: those
  // `wanted(record, argument)` keeps (the others' data is not even copied),
  // each block read once for all the readers that share `cache` (which
  // outlives them).
  static ReadOptions some_records(Filter wanted, int argument, BlockCache *cache);

  bool verify = true;          // check each block's CRC-32
  bool data = true;            // copy the records' data at all
  Filter wanted = nullptr;     // the records to return (null: all)
  int wanted_argument = 0;     // given to `wanted`
  Filter with_data = nullptr;  // the records whose data to copy (null: all)
  std::size_t cap = SIZE_MAX;  // of accel1 reads' and writes' data
  BlockCache *cache = nullptr; // blocks shared with other readers
  // Where an unfinished file checked before ends for this reader: its
  // blocks from here on (a recording still being written) are not read.
  std::uint64_t end = UINT64_MAX;
};

class Reader {
public:
  explicit Reader(const ReadOptions &options = ReadOptions::whole()) : options_(options) {}
  ~Reader();
  Reader(const Reader &) = delete;
  Reader &operator=(const Reader &) = delete;

  bool open(const std::string &path, std::string *error);
  // Reads `fd` from its start, at its own place (pread), leaving it open:
  // several readers may share one descriptor.
  bool open_fd(int fd, const std::string &name, std::string *error);
  // `bytes` must outlive the reader; `name` stands for the file's name.
  bool open_bytes(const std::vector<std::uint8_t> *bytes, const std::string &name,
                  std::string *error);

  // The next record, its repeat records folded into `repeats`. False at the
  // end (*error empty) or at damage (*error set).
  bool next(Record *record, std::string *error);
  // Passes the next record by, its accel1 data not copied. (The record
  // next() holds back to fold its repeats may have been read so too: its
  // data is then fetch()ed.)
  bool skip(std::string *error);
  // A record's data whole, read again from the file.
  bool fetch(const Record &record, std::vector<std::uint8_t> *data, std::string *error);

  std::uint16_t version() const { return version_; }
  std::uint32_t ticks_per_second() const { return ticks_per_second_; }
  bool limit_reached() const { return limit_reached_; }
  int stopped_error() const { return stopped_error_; }
  // At the end of a file without its end record: where its last whole block
  // ends, and how many bytes after it were dropped.
  bool unfinished() const { return unfinished_; }
  std::uint64_t whole_end() const { return whole_end_; }
  std::uint64_t dropped() const { return dropped_; }

private:
  // The file's framing (reader_blocks.cpp): its bytes, its header, its
  // blocks and their checks, where it ends.
  bool start(std::string *error);
  std::size_t raw(std::uint8_t *out, std::size_t count);
  // Damage at byte `at`, or at bytes `at` to `last` (a block).
  bool fail(std::uint64_t at, const std::string &why, std::string *error, std::uint64_t last = 0);
  bool unfinished_at(std::uint64_t start, std::uint64_t dropped, bool *at_end);
  bool block_follows(const std::uint8_t *bytes, std::size_t count) const;
  bool next_block(std::string *error, bool *at_end);
  bool load_block(std::string *error, bool *at_end);
  // False when the file ends before `length` bytes (*into holds the rest).
  bool read_payload(std::vector<std::uint8_t> *into, std::uint32_t length);
  bool ensure(std::size_t count, std::uint64_t record_at, std::string *error);
  const std::uint8_t *held() const { return shared_ != nullptr ? shared_->data() : held_.data(); }
  std::size_t held_size() const { return shared_ != nullptr ? shared_->size() : held_.size(); }

  // The records in it (reader.cpp).
  bool parse(Record *record, std::string *error, bool *at_end);
  bool copies_data(const Record &record) const;

  ReadOptions options_;
  std::string name_;
  int fd_ = -1;
  bool owns_fd_ = false;
  bool seekable_ = true;
  const std::vector<std::uint8_t> *bytes_ = nullptr;
  std::uint64_t position_ = 0; // of the next byte not yet taken from the file
  bool io_failed_ = false;
  int io_errno_ = 0;
  std::uint16_t version_ = 0;
  std::uint32_t ticks_per_second_ = 0;
  // What is held: a verified block's payload (version 2), or a window on the
  // file (version 1); `at_` is the next record in it, which starts at byte
  // `base_ + at_` of the file.
  std::vector<std::uint8_t> held_;
  // Or, with a cache, the block it shares.
  std::shared_ptr<const std::vector<std::uint8_t>> shared_;
  std::size_t at_ = 0;
  std::uint64_t base_ = 0;
  std::uint32_t sequence_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  std::string failure_; // what next() says again after a failure
  bool limit_reached_ = false;
  int stopped_error_ = 0;
  bool unfinished_ = false;
  std::uint64_t whole_end_ = 0;
  std::uint64_t dropped_ = 0;
  bool have_next_ = false;
  Record next_;
  Record skipped_;
};

// A whole session file, read through a Reader.
struct Session {
  std::uint16_t version = kVersion;
  std::uint32_t ticks_per_second = 100;
  std::vector<Record> records;
  bool limit_reached = false; // a limit record is in it
  int stopped_error = 0;      // errno of the write that stopped the recording
  bool unfinished = false;    // it ends without its end record
  std::uint64_t dropped = 0;  // bytes after its last whole block
};
bool read_session(const std::string &path, Session *session, std::string *error);
bool parse_session(const std::vector<std::uint8_t> &bytes, Session *session, std::string *error);

} // namespace dapsession
