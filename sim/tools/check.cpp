// dapsession check: whether a replay would take a session file.
#include <cstdio>
#include <cstring>

#include "calls.h"
#include "commands.h"
#include "session.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

std::string unfinished_line(std::size_t calls, bool inside, std::int64_t tick,
                            std::uint64_t dropped) {
  std::string line = calls == 0
                         ? "unfinished: the recording ends before its first call"
                         : "unfinished: the recording ends after call " + std::to_string(calls) +
                               " (tick " + std::to_string(tick) + ")";
  line += "; " + std::to_string(dropped) + " bytes after the last whole block dropped";
  if (inside)
    line += "; call " + std::to_string(calls + 1) + " was under way (no close)";
  return line;
}

int check(const std::string &path) {
  dapsession::Reader reader(dapsession::ReadOptions::check_only());
  std::string error;
  std::uint64_t records = 0;
  // The calls as show numbers them, for a file that ends without its end.
  CallFinder finder;
  std::size_t calls = 0;
  std::int64_t tick = -1;
  if (reader.open(path, &error)) {
    Record r;
    Call call;
    CallView view;
    while (reader.next(&r, &error)) {
      if (finder.take(r, records, &call, &view))
        ++calls;
      if (r.tick >= 0)
        tick = r.tick;
      ++records;
    }
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
  if (!reader.unfinished())
    return 0;
  std::printf("%s\n", unfinished_line(calls, finder.inside(), tick, reader.dropped()).c_str());
  return kUnfinished;
}

} // namespace dapsession::tool
