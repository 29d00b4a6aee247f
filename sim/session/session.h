// Session files: what the recorder writes on a rig and the simulated board
// plays back. The layout is described in sim/README.md ("Session files").
//
// Everything here is shared by the recorder (libdaprec.so), the simulator's
// replay, the dapsession tool and the tests, so that there is one reader and
// one writer of the format.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dapsession {

inline constexpr char kMagic[6] = {'D', 'A', 'P', 'S', 'E', 'S'};
inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 16;
// The size at which a recording stops (DAPREC_LIMIT may lower or raise it).
inline constexpr std::uint64_t kDefaultLimit = std::uint64_t{256} << 20;

enum class Kind : std::uint8_t {
  open = 1,
  read = 2,
  write = 3,
  ioctl = 4,
  close = 5,
  release = 6,    // a device number taken over by dup2/dup3
  dapl = 7,       // a file of the DAPL directory opened (name only)
  loader = 8,     // the board loader's command line and status
  clock = 9,      // a run of times() calls that all returned `tick`
  repeat = 10,    // the record before happened `count` more times
  limit = 11,     // the recording stopped at its size limit
  interrupt = 12, // the operator's Ctrl-C reached the command here (see Interrupt)
};

// How a Ctrl-C reached the command: the SIGINT handler that was installed
// ran, Octave's interrupt count rose, or the host's interrupt query
// (utIsInterruptPending) turned true. Replay delivers it the same way.
enum class Interrupt : std::uint8_t { handler = 1, octave = 2, query = 3 };
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
  std::uint64_t offset = 0; // where the record starts in the file
  std::uint64_t size = 0;   // its encoded size
};

struct Session {
  std::uint16_t version = kVersion;
  std::uint32_t ticks_per_second = 100;
  std::vector<Record> records;
  bool truncated = false;     // the file ends inside a record
  bool limit_reached = false; // a limit record is in it
};

// Reads a whole session file. False with a reason in *error when it is none
// or from a newer writer; a file cut short inside a record is read up to
// there, with `truncated` set.
bool read_session(const std::string &path, Session *session, std::string *error);
bool parse_session(const std::vector<std::uint8_t> &bytes, Session *session, std::string *error);

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
// no system call of its own: the buffer goes out when it is full, on flush()
// (a device closed) and on finish() (exit). Consecutive identical records
// without data become one record and a repeat count; consecutive identical
// times() values become one clock record. At `limit` bytes the recording
// stops with one message on standard error and a limit record in the file.
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
  // A write of the file that failed stops the recording: its errno (0 while
  // none did) and how many bytes the file kept.
  int failed_errno() const { return failed_errno_; }
  std::uint64_t kept() const { return kept_; }

private:
  void add(const std::uint8_t *head, std::size_t head_size, const void *data,
           std::size_t data_size);
  void put(const void *bytes, std::size_t count);
  void emit_repeat();
  void emit_clock();
  bool fits(std::size_t count);
  void send(const void *bytes, std::size_t count);

  int fd_;
  std::uint64_t limit_;
  WriteFn write_;
  std::uint8_t *buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  std::uint64_t size_ = 0; // bytes of the file, buffered ones included
  bool stopped_ = false;
  int failed_errno_ = 0;
  std::uint64_t kept_ = 0;
  // The last record without data, for merging repeats.
  std::uint8_t last_[32];
  std::size_t last_size_ = 0;
  std::uint64_t pending_repeats_ = 0;
  std::int64_t clock_value_ = 0;
  std::uint64_t clock_count_ = 0;
};

} // namespace dapsession
