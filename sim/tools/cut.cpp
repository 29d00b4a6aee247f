// dapsession cut: some of a session's command calls, as a session file of
// their own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calls.h"
#include "commands.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

// Read twice as it goes: first (checked, with only the records' text) to
// find the calls, then to copy those kept.
int cut(const std::string &path, const std::string &range, const std::string &out) {
  char *end = nullptr;
  const unsigned long first = std::strtoul(range.c_str(), &end, 10);
  unsigned long last = first;
  if (*end == '-')
    last = std::strtoul(end + 1, &end, 10);
  const bool ranged = *end == '\0' && first >= 1 && last >= first;
  dapsession::Reader finding(dapsession::ReadOptions::outline());
  std::string error;
  std::size_t calls = 0, from = 0, stop = 0;
  if (finding.open(path, &error)) {
    CallFinder finder;
    Call call;
    CallView unused;
    Record r;
    // Clock runs written just after the last close still belong to it (a
    // version 1 file writes a run when the next value comes).
    bool after_last = false;
    for (std::size_t i = 0; finding.next(&r, &error); ++i) {
      if (after_last && r.kind == Kind::clock)
        stop = i + 1;
      else
        after_last = false;
      if (!finder.take(r, i, &call, &unused))
        continue;
      ++calls;
      if (ranged && calls == first)
        from = call.first;
      if (ranged && calls == last) {
        stop = i + 1;
        after_last = true;
      }
    }
  }
  if (!error.empty()) {
    std::fprintf(stderr, "dapsession: %s\n", error.c_str());
    return 1;
  }
  if (!ranged || last > calls) {
    std::fprintf(stderr, "dapsession: %s has %zu command calls; '%s' is not a range of them\n",
                 path.c_str(), calls, range.c_str());
    return 2;
  }
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "dapsession: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  dapsession::Reader copying(dapsession::ReadOptions::reread());
  bool ok = copying.open(path, &error);
  int saved = 0;
  {
    dapsession::Writer writer(fd, finding.ticks_per_second());
    Record r;
    for (std::size_t i = 0; ok && i < stop && copying.next(&r, &error); ++i)
      if (i >= from) {
        writer.add(r);
        ok = writer.failed_error() == 0;
      }
    if (ok && error.empty())
      writer.finish(dapsession::Writer::Ending::sealed);
    saved = writer.failed_error();
    ok = ok && error.empty() && saved == 0;
  }
  const off_t size = ::lseek(fd, 0, SEEK_CUR);
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (::close(fd) != 0 || !ok) {
    if (error.empty())
      error = "cannot write " + out + ": " + std::strerror(ok ? errno : saved);
    std::fprintf(stderr, "dapsession: %s\n", error.c_str());
    // A part of a session is no session (a device or a pipe stays).
    if (regular)
      ::unlink(out.c_str());
    return 1;
  }
  std::printf("calls %lu to %lu (%lld bytes) written to %s\n", first, last,
              static_cast<long long>(size), out.c_str());
  return 0;
}

} // namespace dapsession::tool
