// Session files: what the recorder writes on a rig and the simulated board
// plays back. The layout is described in sim/README.md ("Session files").
//
// Everything here is shared by the recorder (libdaprec.so), the simulator's
// replay, the dapsession tool and the tests, so that there is one reader and
// one writer of the format.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dapsession {

inline constexpr char kMagic[6] = {'D', 'A', 'P', 'S', 'E', 'S'};
// Version 2 frames the records in checked blocks and closes the file with an
// end record; version 1 (bare records) is still read.
inline constexpr std::uint16_t kVersion = 2;
inline constexpr std::size_t kHeaderSize = 16;
// A block: payload length, sequence number (from 0), CRC-32 of the two and
// the payload; then the payload, whole records only.
inline constexpr std::size_t kBlockHeaderSize = 12;
// The size at which a recording stops (DAPREC_LIMIT may lower or raise it).
inline constexpr std::uint64_t kDefaultLimit = std::uint64_t{256} << 20;

enum class Kind : std::uint8_t {
  open = 1,
  read = 2,
  write = 3,
  ioctl = 4,
  close = 5,
  release = 6, // a device number taken over by dup2/dup3
  dapl = 7,    // a file of the DAPL directory opened (name only)
  loader = 8,  // the board loader's command line and status
  clock = 9,   // a run of times() calls that all returned `tick`
  repeat = 10, // the record before happened `count` more times
  limit = 11,  // the recording stopped at its size limit
  // Version 2 only.
  interrupt = 12, // the operator's Ctrl-C reached the command here (see Interrupt)
  stopped = 20,   // a write of the file failed (errno in the record): nothing follows but the end
  end = 21,       // the file's last record; a file without it was cut short
};

// How a Ctrl-C reached the command: the SIGINT handler that was installed
// ran, Octave's interrupt count rose, the host's interrupt query
// (utIsInterruptPending) turned true, or it was held pending on the thread
// that ran the board loader, SIGINT blocked. Replay delivers it the same way.
enum class Interrupt : std::uint8_t { handler = 1, octave = 2, query = 3, held = 4 };
const char *interrupt_name(std::int64_t means);

inline constexpr std::uint8_t kAccel0 = 0;
inline constexpr std::uint8_t kAccel1 = 1;
inline constexpr std::uint8_t kNoNode = 0xFF;

const char *kind_name(Kind kind);
const char *node_name(std::uint8_t node);

// One record as read back. `repeats` folds the repeat records that followed
// it (1 = it happened once); for a clock record it is the run's length.
struct Record {
  Kind kind = Kind::open;
  std::uint8_t node = kNoNode;
  int error = 0;             // errno of a failed call
  std::int64_t tick = -1;    // the last times() value the host saw; -1: none yet
  std::int64_t result = 0;   // interrupt: how it came (Interrupt)
  std::uint32_t asked = 0;   // read: bytes asked; ioctl: the request
  std::int32_t value = 0;    // ioctl: the int behind the pointer, after the call
  std::uint64_t repeats = 1; // see above
  std::vector<std::uint8_t> data;
  std::uint64_t data_size = 0; // of the data in the file, even when not read
  std::uint64_t offset = 0;    // where the record starts in the file
  std::uint64_t size = 0;      // its encoded size
};

struct Session {
  std::uint16_t version = kVersion;
  std::uint32_t ticks_per_second = 100;
  std::vector<Record> records;
  bool limit_reached = false; // a limit record is in it
  int stopped_error = 0;      // errno of the write that stopped the recording
};

// CRC-32 (the common reflected 0xEDB88320 one), continued from `crc`.
std::uint32_t crc32(const void *bytes, std::size_t count, std::uint32_t crc = 0);
namespace testing {
// The same sum a byte at a time through tables, for checking crc32().
std::uint32_t crc32_reference(const void *bytes, std::size_t count, std::uint32_t crc = 0);
// crc32() as on a processor without the 512-bit carry-less multiply.
std::uint32_t crc32_narrow(const void *bytes, std::size_t count, std::uint32_t crc = 0);
} // namespace testing

// The last few blocks read by the readers of one file that share it: readers
// that go through the file together (a replay's queues) read it once. For
// readers of a file already checked whole (trust()).
class BlockCache {
public:
  std::shared_ptr<const std::vector<std::uint8_t>> find(std::uint64_t at,
                                                        std::uint32_t sequence) const;
  // Where to read a block: the memory of one no reader holds any more, when
  // there is one.
  std::shared_ptr<std::vector<std::uint8_t>> fresh();
  void add(std::uint64_t at, std::uint32_t sequence,
           std::shared_ptr<std::vector<std::uint8_t>> block);

private:
  struct Entry {
    std::uint64_t at = 0;
    std::uint32_t sequence = 0;
    std::shared_ptr<std::vector<std::uint8_t>> block;
  };
  std::array<Entry, 4> entries_;
  std::size_t next_ = 0;
  std::shared_ptr<std::vector<std::uint8_t>> spare_;
};

// Reads a session file record by record, holding one block (or, for
// version 1, what one record needs) at a time. Every failure names the file
// and the byte where the damage starts: a file that is empty, is no session
// file, comes from a newer writer, fails a block's check, ends inside a
// record or (version 2) lacks its end record is refused, never read in part.
class Reader {
public:
  Reader() = default;
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

  // For a file already read whole once: blocks are not checked again, and
  // only the records `wanted` keeps are returned (the others' data is not
  // even copied).
  void select(bool (*wanted)(const Record &, int), int argument) {
    checked_ = true;
    wanted_ = wanted;
    wanted_argument_ = argument;
  }

  // Records come without their data (a check of the whole file), or with
  // it only when `wanted` keeps them.
  void skip_data() { skip_data_ = true; }
  void keep_data(bool (*wanted)(const Record &, int)) { data_wanted_ = wanted; }
  // For a file already read whole once: blocks are not checked again.
  void trust() { checked_ = true; }
  // Blocks come from `cache` when another reader has just read them (a
  // trusted reader of a version 2 file; `cache` outlives the reader).
  void share_blocks(BlockCache *cache) { cache_ = cache; }
  // Reads and writes on accel1 carry at most `bytes` of their data
  // (data_size says how much there is; fetch() reads it whole). May change
  // between calls of next(); the record next() holds back to fold its
  // repeats may have been read under the old cap.
  void cap_data(std::size_t bytes) { cap_ = bytes; }
  bool fetch(const Record &record, std::vector<std::uint8_t> *data, std::string *error);

  std::uint16_t version() const { return version_; }
  std::uint32_t ticks_per_second() const { return ticks_per_second_; }
  bool limit_reached() const { return limit_reached_; }
  int stopped_error() const { return stopped_error_; }

private:
  bool start(std::string *error);
  std::size_t raw(std::uint8_t *out, std::size_t count);
  bool fail(std::uint64_t at, const std::string &why, std::string *error);
  bool ensure(std::size_t count, std::uint64_t record_at, std::string *error);
  bool load_block(std::string *error, bool *at_end);
  bool parse(Record *record, std::string *error, bool *at_end);
  bool read_payload(std::vector<std::uint8_t> *into, std::uint32_t length, std::uint64_t start,
                    std::string *error);
  const std::uint8_t *held() const { return shared_ != nullptr ? shared_->data() : held_.data(); }
  std::size_t held_size() const { return shared_ != nullptr ? shared_->size() : held_.size(); }

  std::string name_;
  int fd_ = -1;
  bool owns_fd_ = false;
  bool checked_ = false;
  bool skip_data_ = false;
  bool (*wanted_)(const Record &, int) = nullptr;
  bool (*data_wanted_)(const Record &, int) = nullptr;
  int wanted_argument_ = 0;
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
  BlockCache *cache_ = nullptr;
  std::shared_ptr<const std::vector<std::uint8_t>> shared_;
  std::size_t cap_ = SIZE_MAX;
  std::size_t at_ = 0;
  std::uint64_t base_ = 0;
  std::uint32_t sequence_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  std::string failure_; // what next() says again after a failure
  bool limit_reached_ = false;
  int stopped_error_ = 0;
  bool have_next_ = false;
  Record next_;
};

// Reads a whole session file through a Reader.
bool read_session(const std::string &path, Session *session, std::string *error);
bool parse_session(const std::vector<std::uint8_t> &bytes, Session *session, std::string *error);

// A record in the file's encoding, as the Writer writes it (repeats > 1
// become repeat records after it).
void encode_record(const Record &record, std::vector<std::uint8_t> *out);
// Records as a whole version 2 file, as they come: the header, blocks of
// about `block_size` bytes, and at finish() the end record. Each returns
// false with errno set once a write has failed. Leaves `fd` open.
class RecordWriter {
public:
  RecordWriter(int fd, std::uint32_t ticks_per_second,
               std::size_t block_size = std::size_t{1} << 20);
  bool add(const Record &record);
  bool finish();

private:
  bool write_all(const std::uint8_t *p, std::size_t n);
  bool send();

  int fd_;
  std::size_t block_size_;
  std::uint32_t sequence_ = 0;
  std::vector<std::uint8_t> block_; // its header's room, then its records
  bool ok_;
  int errno_ = 0; // of the write that failed
};

// The header for a new file.
void encode_header(std::uint8_t out[kHeaderSize], std::uint32_t ticks_per_second);

// "/dev//./accel0" names the same node as "/dev/accel0": a path with empty
// and "." components removed and ".." resolved (a trailing slash kept).
std::string normalize_path(const char *path);
// What an absolute path is to the recorder and the simulator: kAccel0,
// kAccel1, or kNoNode; *dapl is set for a file of the DAPL directory.
inline constexpr char kDaplDirectory[] = "/home/labrig/matlab/intrfc/dap/";
inline constexpr char kLoaderCommand[] = "/usr/src/linux/drivers/dap/comload";
std::uint8_t classify_path(const char *path, bool *dapl);

// Appends records to a session file through a buffer, so that a call costs
// no system call of its own: the buffer goes out as one checked block when
// it is full, on flush() (a device closed) and on finish() (exit), which
// also writes the end record (records that come after it take it back and
// the next finish() writes it again). Consecutive identical records without
// data become one record and a repeat count; consecutive identical times()
// values become one clock record, which an open, a close, a release or an
// interrupt ends so that a command call's times() values stay with it. At `limit` bytes
// the recording stops with one message on standard error and a limit record
// in the file. When a write of the file fails, the recording stops there,
// silently: the file is cut back to its last whole block and gets a stopped
// record (the errno) and its end record when they fit; failed_error() and
// kept() tell the owner.
class Writer {
public:
  using WriteFn = ssize_t (*)(int, const void *, size_t);
  // Takes `fd` (the header is written at once) and closes it never: the
  // owner does. `write_fn` is the C library's write (the recorder must not
  // go through its own interposer).
  Writer(int fd, std::uint64_t limit, std::uint32_t ticks_per_second, WriteFn write_fn,
         std::size_t buffer_size = std::size_t{1} << 20);
  ~Writer();
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;

  void open(std::uint8_t node, std::int64_t tick, int result, int error);
  void read(std::uint8_t node, std::int64_t tick, std::size_t asked, ssize_t result, int error,
            const void *bytes);
  void write(std::uint8_t node, std::int64_t tick, std::size_t count, ssize_t result, int error,
             const void *bytes);
  void ioctl(std::uint8_t node, std::int64_t tick, unsigned long request, int result, int error,
             std::int32_t value);
  void close(std::uint8_t node, std::int64_t tick, int result, int error);
  void release(std::uint8_t node, std::int64_t tick, int fd);
  void dapl(std::int64_t tick, const char *path, int result, int error);
  void loader(std::int64_t tick, const char *command_line, int status, int error);
  void clock(std::int64_t value);
  // Ends the clock run it came in, so that replay knows which times() call
  // it came after as well as which device call.
  void interrupt(std::int64_t tick, Interrupt means);

  // Sends the buffer to the file.
  void flush();
  // Writes what is pending (a repeat count, a clock run) and flushes.
  void finish();

  bool stopped() const { return stopped_; }
  std::uint64_t size() const { return size_; }
  // The errno of the write that failed (0: none failed), and the bytes the
  // file kept: whole blocks, with the stopped and end records when they fit.
  int failed_error() const { return failed_error_; }
  std::uint64_t kept() const { return committed_; }

private:
  void add(const std::uint8_t *head, std::size_t head_size, const void *data,
           std::size_t data_size);
  void put(const void *bytes, std::size_t count);
  void emit_repeat();
  void emit_clock();
  void end_clock_run();
  bool fits(std::size_t count);
  bool reopen();
  // Writes all of it; the errno of the failure otherwise.
  int write_all(const void *bytes, std::size_t count);
  bool send(const void *bytes, std::size_t count);
  void send_block(const std::uint8_t *head, std::size_t head_size, const void *data,
                  std::size_t data_size);
  void write_failed(int error);

  int fd_;
  std::uint64_t limit_;
  WriteFn write_;
  std::uint8_t *buffer_; // a block: its header, then `used_` bytes of records
  std::size_t capacity_; // of records in it
  std::size_t used_ = 0;
  std::uint64_t size_ = 0; // bytes of the file, buffered ones included
  bool stopped_ = false;
  std::uint32_t sequence_ = 0;
  off_t origin_ = -1;           // where the file starts (-1: cannot be cut back)
  std::uint64_t committed_ = 0; // bytes written whole
  std::uint64_t end_at_ = 0;    // where the end record's block starts, once written
  bool ended_ = false;
  int failed_error_ = 0;
  // The last record without data, for merging repeats.
  std::uint8_t last_[32];
  std::size_t last_size_ = 0;
  std::uint64_t pending_repeats_ = 0;
  std::int64_t clock_value_ = 0;
  std::uint64_t clock_count_ = 0;
};

} // namespace dapsession
