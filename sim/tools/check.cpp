// dapsession check: whether a replay would take a session file.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "session.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

int check(const std::string &path) {
  dapsession::Reader reader(dapsession::ReadOptions::check_only());
  std::string error;
  std::uint64_t records = 0;
  if (reader.open(path, &error)) {
    Record r;
    while (reader.next(&r, &error))
      ++records;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "dapsession: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: version %u, %llu records", path.c_str(), reader.version(),
              static_cast<unsigned long long>(records));
  if (reader.stopped_error() != 0)
    std::printf("; recording stopped: %s", std::strerror(reader.stopped_error()));
  else if (reader.limit_reached())
    std::printf("; the recording stopped at its size limit");
  std::printf("\n");
  return 0;
}

} // namespace dapsession::tool
