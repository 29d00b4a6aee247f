#include "describe.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "text.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

std::string quoted(const std::vector<std::uint8_t> &bytes, std::size_t limit) {
  const std::size_t n = std::min(bytes.size(), limit);
  return dapsim::text::quoted(bytes.data(), n) + (n < bytes.size() ? "..." : "");
}

// The appenders below build the lines of a big file's records without a
// string of their own for every piece.
void put_number(std::string *out, long long v) {
  char text[24];
  out->append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// `total`: the bytes there are, of which `bytes` may hold only the first.
void put_hex(std::string *out, const std::vector<std::uint8_t> &bytes, std::size_t limit,
             std::uint64_t total) {
  static const char digits[] = "0123456789abcdef";
  const std::size_t n = std::min(bytes.size(), limit);
  const std::size_t at = out->size();
  out->resize(at + 2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    (*out)[at + 2 * i] = digits[bytes[i] >> 4];
    (*out)[at + 2 * i + 1] = digits[bytes[i] & 0xF];
  }
  if (n < total)
    *out += "...";
}

std::string hex(const std::vector<std::uint8_t> &bytes, std::size_t limit) {
  std::string out;
  put_hex(&out, bytes, limit, bytes.size());
  return out;
}

void put_words(std::string *out, const std::vector<std::uint8_t> &bytes, std::size_t limit,
               std::uint64_t total) {
  const std::size_t n = std::min(bytes.size(), limit) / 2;
  // Up to 64 words at a time through a buffer of its own.
  char text[64 * 7];
  for (std::size_t from = 0; from < n; from += 64) {
    char *p = text;
    for (std::size_t i = from; i < std::min(n, from + 64); ++i) {
      const unsigned v = bytes[2 * i] | (bytes[2 * i + 1] << 8);
      if (i > 0)
        *p++ = ' ';
      p = std::to_chars(p, text + sizeof text,
                        v >= 0x8000 ? static_cast<int>(v) - 0x10000 : static_cast<int>(v))
              .ptr;
    }
    out->append(text, p);
  }
  if (2 * n < total)
    *out += " ...";
}

namespace {

std::string words(const std::vector<std::uint8_t> &bytes, std::size_t limit) {
  std::string out;
  put_words(&out, bytes, limit, bytes.size());
  return out;
}

} // namespace

// The words of a stimulus table that go to one output: the table
// interleaves a0 and a1 (phase 0 and 1).
std::string output_words(const std::vector<std::uint8_t> &bytes, std::size_t limit, int phase) {
  std::vector<std::uint8_t> mine;
  for (std::size_t i = 2 * static_cast<std::size_t>(phase); i + 1 < bytes.size(); i += 4) {
    mine.push_back(bytes[i]);
    mine.push_back(bytes[i + 1]);
  }
  return words(mine, limit == SIZE_MAX ? limit : limit / 2);
}

namespace {

void put_outcome(std::string *out, const Record &r) {
  if (r.result < 0 && r.error != 0) {
    *out += "-1 errno=";
    put_number(out, r.error);
  } else {
    put_number(out, r.result);
  }
}

// An open's result: a descriptor or a failure.
void put_opened(std::string *out, const Record &r) {
  if (r.result < 0) {
    put_outcome(out, r);
  } else {
    *out += "fd=";
    put_number(out, r.result);
  }
}

void put_data(std::string *out, const Record &r, std::size_t limit) {
  if (r.node == dapsession::kAccel0)
    *out += quoted(r.data, limit);
  else
    put_hex(out, r.data, limit, r.data_size);
}

} // namespace

// The record in words, appended to *out. `with_data` false: the data is
// shown after the line, decoded.
void describe(std::string *out, const Record &r, std::size_t limit, bool with_data) {
  const char *node = dapsession::node_name(r.node);
  auto put = [out](const char *text) { *out += text; };
  switch (r.kind) {
  case Kind::open:
    put("open ");
    put(node);
    put(" -> ");
    put_opened(out, r);
    return;
  case Kind::read:
    put("read ");
    put(node);
    put(" ");
    put_number(out, r.asked);
    put(" -> ");
    put_outcome(out, r);
    if (!r.data.empty() && with_data) {
      put(" ");
      put_data(out, r, limit);
    }
    return;
  case Kind::write:
    put("write ");
    put(node);
    put(" ");
    put_number(out, r.asked);
    if (with_data) {
      put(" ");
      put_data(out, r, limit);
    }
    put(" -> ");
    put_outcome(out, r);
    return;
  case Kind::ioctl:
    put("ioctl ");
    put(node);
    put(" ");
    put_number(out, r.asked);
    put(" -> ");
    put_outcome(out, r);
    put(" value=");
    put_number(out, r.value);
    return;
  case Kind::close:
    put("close ");
    put(node);
    put(" -> ");
    put_outcome(out, r);
    return;
  case Kind::release:
    put("release ");
    put(node);
    put(" fd=");
    put_number(out, r.result);
    return;
  case Kind::dapl:
    put("dapl ");
    out->append(r.data.begin(), r.data.end());
    put(" -> ");
    put_opened(out, r);
    return;
  case Kind::loader:
    put("loader ");
    put(quoted(r.data, SIZE_MAX).c_str());
    put(" -> ");
    put_outcome(out, r);
    return;
  case Kind::clock:
    put("clock ");
    put_number(out, r.tick);
    return;
  case Kind::repeat:
    put("repeat");
    return;
  case Kind::limit:
    put("limit: the recording stopped here (size limit)");
    return;
  case Kind::interrupt:
    put("interrupt: Ctrl-C reached the command (");
    put(dapsession::interrupt_name(r.result)), put(")");
    return;
  case Kind::stopped:
    put("recording stopped: ");
    put(std::strerror(r.error));
    return;
  case Kind::end:
    put("end");
    return;
  }
  put("?");
}

std::string describe(const Record &r, std::size_t limit, bool with_data) {
  std::string out;
  describe(&out, r, limit, with_data);
  return out;
}

// Whether two polls read alike in a run: the same fields give the same
// words (tested first, as it is the common case); else the words decide.
bool same_words(const Record &a, const Record &b) {
  if (a.kind == b.kind && a.node == b.node && a.asked == b.asked && a.result == b.result &&
      a.error == b.error && a.value == b.value && a.data == b.data)
    return true;
  return describe(a, 0, false) == describe(b, 0, false);
}

} // namespace dapsession::tool
