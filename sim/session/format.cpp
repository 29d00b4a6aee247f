#include "format.h"

#include <cstring>

#include "bytes.h"

namespace dapsession {

using namespace bytes;

const char *kind_name(Kind kind) {
  switch (kind) {
  case Kind::open:
    return "open";
  case Kind::read:
    return "read";
  case Kind::write:
    return "write";
  case Kind::ioctl:
    return "ioctl";
  case Kind::close:
    return "close";
  case Kind::release:
    return "release";
  case Kind::dapl:
    return "dapl";
  case Kind::loader:
    return "loader";
  case Kind::clock:
    return "clock";
  case Kind::repeat:
    return "repeat";
  case Kind::limit:
    return "limit";
  case Kind::interrupt:
    return "interrupt";
  case Kind::stopped:
    return "stopped";
  case Kind::end:
    return "end";
  }
  return "?";
}

const char *interrupt_name(std::int64_t means) {
  switch (means) {
  case static_cast<int>(Interrupt::handler):
    return "handler";
  case static_cast<int>(Interrupt::octave):
    return "octave";
  case static_cast<int>(Interrupt::query):
    return "query";
  case static_cast<int>(Interrupt::held):
    return "held";
  }
  return "?";
}

const char *node_name(std::uint8_t node) {
  return node == kAccel0 ? "accel0" : (node == kAccel1 ? "accel1" : "-");
}

void encode_header(std::uint8_t out[kHeaderSize], std::uint32_t ticks_per_second) {
  std::memcpy(out, kMagic, sizeof kMagic);
  put_u16(out + 6, kVersion);
  put_u32(out + 8, ticks_per_second);
  put_u32(out + 12, crc32(out, 12));
}

Header decode_header(const std::uint8_t *bytes, std::size_t got) {
  Header h;
  if (got < sizeof kMagic || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) {
    h.why = "refused: not a session file (no DAPSES header)";
    return h;
  }
  if (got < kHeaderSize) {
    h.why = "refused: cut short in its header";
    h.at = got;
    return h;
  }
  h.version = get_u16(bytes + 6);
  h.ticks_per_second = get_u32(bytes + 8);
  // Damage first: a changed byte must not pass for a newer writer. Version
  // 1 has flags there, no CRC-32; every later version has it.
  const bool damaged =
      h.version == 0 || (h.version >= 2 && get_u32(bytes + 12) != crc32(bytes, 12));
  if (damaged) {
    h.why = "refused: damaged header (its CRC-32 fails)";
    h.last = kHeaderSize - 1;
  } else if (h.version > kVersion) {
    h.why = "refused: session file version " + std::to_string(h.version) +
            " is newer than this reader (" + std::to_string(kVersion) + ")";
    h.at = 6;
  }
  return h;
}

std::size_t fixed_size(std::uint8_t kind, std::uint16_t version) {
  switch (static_cast<Kind>(kind)) {
  case Kind::open:
  case Kind::close:
  case Kind::release:
  case Kind::clock:
  case Kind::repeat:
    return 4;
  case Kind::read:
  case Kind::write:
  case Kind::dapl:
  case Kind::loader:
    return 8;
  case Kind::ioctl:
    return 12;
  case Kind::limit:
    return 0;
  case Kind::interrupt:
    return version >= 2 ? 4 : SIZE_MAX;
  case Kind::stopped:
  case Kind::end:
    return version >= 2 ? 0 : SIZE_MAX;
  }
  return SIZE_MAX;
}

std::size_t encode_common(std::uint8_t *out, Kind kind, std::uint8_t node, int error,
                          std::int64_t tick) {
  out[0] = static_cast<std::uint8_t>(kind);
  out[1] = node;
  put_u16(out + 2, static_cast<std::uint16_t>(error < 0 || error > 0xFFFF ? 0xFFFF : error));
  put_u64(out + 4, from_i64(tick));
  return kCommonSize;
}

namespace {

constexpr std::size_t kRepeatSize = kCommonSize + 4;

// The fixed part as written (a kind this version lacks has none).
std::size_t written_fixed(const Record &r) {
  const std::size_t fixed = fixed_size(static_cast<std::uint8_t>(r.kind), kVersion);
  return fixed == SIZE_MAX ? 0 : fixed;
}

// The repeat records after it: a clock record holds its run's length itself.
std::uint64_t repeats_after(const Record &r) {
  return r.kind == Kind::clock || r.kind == Kind::repeat ? 0 : r.repeats - 1;
}

} // namespace

std::size_t encoded_size(const Record &r) {
  const std::uint64_t left = repeats_after(r);
  const std::uint64_t repeat_records = left / UINT32_MAX + (left % UINT32_MAX != 0 ? 1 : 0);
  return kCommonSize + written_fixed(r) + r.data.size() +
         static_cast<std::size_t>(repeat_records) * kRepeatSize;
}

void encode_record(const Record &r, std::uint8_t *out) {
  std::uint8_t *p = out + encode_common(out, r.kind, r.node, r.error, r.tick);
  const std::size_t fixed = written_fixed(r);
  std::memset(p, 0, fixed);
  switch (r.kind) {
  case Kind::open:
  case Kind::close:
  case Kind::release:
  case Kind::interrupt:
    put_u32(p, from_i32(clamp_i32(r.result)));
    break;
  case Kind::clock:
  case Kind::repeat:
    put_u32(p, clamp_u32(r.repeats));
    break;
  case Kind::read:
  case Kind::write:
    put_u32(p, r.asked);
    put_u32(p + 4, from_i32(clamp_i32(r.result)));
    break;
  case Kind::dapl:
  case Kind::loader:
    put_u32(p, from_i32(clamp_i32(r.result)));
    put_u32(p + 4, clamp_u32(r.data.size()));
    break;
  case Kind::ioctl:
    put_u32(p, r.asked);
    put_u32(p + 4, from_i32(clamp_i32(r.result)));
    put_u32(p + 8, from_i32(r.value));
    break;
  case Kind::limit:
  case Kind::stopped:
  case Kind::end:
    break;
  }
  p += fixed;
  if (!r.data.empty())
    std::memcpy(p, r.data.data(), r.data.size());
  p += r.data.size();
  for (std::uint64_t left = repeats_after(r); left > 0;) {
    const std::uint32_t n = clamp_u32(left);
    p += encode_common(p, Kind::repeat, kNoNode, 0, -1);
    put_u32(p, n);
    p += 4;
    left -= n;
  }
}

void encode_record(const Record &r, std::vector<std::uint8_t> *out) {
  const std::size_t had = out->size();
  out->resize(had + encoded_size(r));
  encode_record(r, out->data() + had);
}

std::uint64_t decode_record(const std::uint8_t *p, Record *r) {
  *r = Record{};
  r->kind = static_cast<Kind>(p[0]);
  r->node = p[1];
  r->error = get_u16(p + 2);
  r->tick = to_i64(get_u64(p + 4));
  p += kCommonSize;
  switch (r->kind) {
  case Kind::open:
  case Kind::close:
  case Kind::release:
  case Kind::interrupt:
    r->result = to_i32(get_u32(p));
    return 0;
  case Kind::clock:
  case Kind::repeat:
    r->repeats = get_u32(p);
    return 0;
  case Kind::read:
    r->asked = get_u32(p);
    r->result = to_i32(get_u32(p + 4));
    return r->result > 0 ? static_cast<std::uint64_t>(r->result) : 0;
  case Kind::write:
    r->asked = get_u32(p);
    r->result = to_i32(get_u32(p + 4));
    return r->asked;
  case Kind::dapl:
  case Kind::loader:
    r->result = to_i32(get_u32(p));
    return get_u32(p + 4);
  case Kind::ioctl:
    r->asked = get_u32(p);
    r->result = to_i32(get_u32(p + 4));
    r->value = to_i32(get_u32(p + 8));
    return 0;
  case Kind::limit:
  case Kind::stopped:
  case Kind::end:
    return 0;
  }
  return 0;
}

} // namespace dapsession
