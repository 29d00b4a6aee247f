// The families of binary records the board's tasks send on accel1, and what
// the host writes to them, known by the tasks a command starts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dapsession::tool {

// What the board's tasks send, and the host writes to them, on the binary
// channel: a call's bytes are a stream of such records, whatever the reads
// that carried them. A part is `count` records alike (0: as many as come),
// numbered by `index` when it names one; `fields` lists "name:type", the
// type i16, u32 (low word first) or x16 (a word in hex), after a count for a
// run of them.
struct Part {
  const char *name;
  const char *index;
  const char *fields;
  int count;
};

struct Family {
  const char *name;
  std::vector<std::string> tasks; // any of them started says it is this family's call
  std::vector<Part> reads;
  std::vector<Part> writes;
};

// One field of a part's layout: `count` values of a type.
struct Field {
  std::string name;
  char type; // 'i', 'u' or 'x'
  int count;
  std::size_t bytes() const { return static_cast<std::size_t>(count) * (type == 'u' ? 4 : 2); }
};

// A part's `fields` layout, field by field.
std::vector<Field> parse_fields(const char *layout);

// The family whose tasks are among `tasks`, or nullptr.
const Family *family_of(const std::vector<std::string> &tasks);

} // namespace dapsession::tool
