#include "replay.h"

#include <algorithm>
#include <cstdio>

#include "device_nodes.h"
#include "real.h"
#include "text.h"

namespace dapsim {

using dapsession::Kind;
using dapsession::Record;

int queue_of(const Record &r) {
  if (r.kind == Kind::clock)
    return kClockQueue;
  if (r.kind == Kind::dapl)
    return kDaplQueue;
  if (r.kind == Kind::loader)
    return kLoaderQueue;
  if (r.kind == Kind::interrupt)
    return kInterruptQueue;
  if (r.node == kTextNode || r.node == kBinaryNode)
    return r.node;
  return -1;
}

Replay::~Replay() {
  for (Queue *q : {&channel[0], &channel[1], &clock, &dapl, &loader, &interrupts})
    q->reader.reset();
  if (fd >= 0)
    real::close()(fd);
}

namespace {

std::string byte_text(const std::vector<std::uint8_t> &bytes, std::size_t at) {
  if (at >= bytes.size())
    return "end";
  char out[8];
  std::snprintf(out, sizeof out, "0x%02x", bytes[at]);
  return out;
}

// A few bytes around `at`, as the trace shows a write of that channel.
std::string around(int node, const std::vector<std::uint8_t> &bytes, std::size_t at) {
  const std::size_t from = at > 16 ? at - 16 : 0;
  const std::size_t to = std::min(bytes.size(), at + 16);
  const std::uint8_t *p = bytes.data() + from;
  return node == kTextNode ? text::quoted(p, to - from) : text::hex(p, to - from, false);
}

} // namespace

std::string where_differs(int node, const std::vector<std::uint8_t> &expected,
                          const std::vector<std::uint8_t> &sent) {
  const auto first = std::mismatch(expected.begin(), expected.end(), sent.begin(), sent.end());
  if (first.first == expected.end() && first.second == sent.end())
    return "";
  const auto at = static_cast<std::size_t>(first.first - expected.begin());
  return "byte " + std::to_string(at + 1) + ": expected " + byte_text(expected, at) + " got " +
         byte_text(sent, at) + " (recorded " + around(node, expected, at) + ", sent " +
         around(node, sent, at) + ")";
}

} // namespace dapsim
