// Session files: what the recorder writes on a rig and the simulated board
// plays back. This is the format itself: the header, the block framing's
// sizes, the record kinds and their layout, and the rules of its versions.
// The layout is described in sim/README.md ("Session files").
#pragma once

#include <cstddef>
#include <cstdint>
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
// Each record starts with its kind, node, errno and tick.
inline constexpr std::size_t kCommonSize = 12;

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

// CRC-32 (the common reflected 0xEDB88320 one), continued from `crc`.
std::uint32_t crc32(const void *bytes, std::size_t count, std::uint32_t crc = 0);
namespace testing {
// The same sum a byte at a time through tables, for checking crc32().
std::uint32_t crc32_reference(const void *bytes, std::size_t count, std::uint32_t crc = 0);
// crc32() as on a processor without the 512-bit carry-less multiply.
std::uint32_t crc32_narrow(const void *bytes, std::size_t count, std::uint32_t crc = 0);
} // namespace testing

// ----------------------------------------------------------------- header

// The header for a new file.
void encode_header(std::uint8_t out[kHeaderSize], std::uint32_t ticks_per_second);

// A header as read: its version and clock rate, or why the file is refused
// (`why` set) and at which byte (or bytes, `at` to `last`).
struct Header {
  std::uint16_t version = 0;
  std::uint32_t ticks_per_second = 0;
  std::string why;
  std::uint64_t at = 0;
  std::uint64_t last = 0;
};
// The first `got` bytes of a file (up to kHeaderSize of them).
Header decode_header(const std::uint8_t *bytes, std::size_t got);

// ----------------------------------------------------------------- records

// The size of the part after the common one, by kind; SIZE_MAX for a kind
// `version` does not have.
std::size_t fixed_size(std::uint8_t kind, std::uint16_t version);
// The common part of a record; its size (kCommonSize).
std::size_t encode_common(std::uint8_t *out, Kind kind, std::uint8_t node, int error,
                          std::int64_t tick);
// A record in the file's encoding (repeats > 1 become repeat records after
// it): how many bytes, and the bytes at `out`.
std::size_t encoded_size(const Record &record);
void encode_record(const Record &record, std::uint8_t *out);
void encode_record(const Record &record, std::vector<std::uint8_t> *out);
// The common and fixed parts at `p` (a record of a kind `version` has) into
// *record, which is otherwise reset; the size of the data that follows.
std::uint64_t decode_record(const std::uint8_t *p, Record *record);

} // namespace dapsession
