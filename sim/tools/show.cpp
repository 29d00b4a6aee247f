// dapsession show: a session file as text, call by call.
#include <cstdio>
#include <cstdlib>

#include "calls.h"
#include "commands.h"
#include "held.h"
#include "printer.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

// The file is read once, as it goes: the records of a call (and of what may
// lead one: DAPL opens, loader runs, clock runs, Ctrl-Cs) are held until its
// close says what the call did, then printed under its header. A call too
// big to hold (40 MiB) is read again from its first record once it ends.
int show(const std::string &path, bool brief, bool raw) {
  // DAPSESSION_HOLD (bytes) lowers it, for the tests of the other way.
  const char *hold = std::getenv("DAPSESSION_HOLD");
  const std::size_t most_held =
      hold != nullptr ? std::strtoull(hold, nullptr, 10) : std::size_t{40} << 20;
  std::string error;
  auto failed = [&] {
    std::fflush(stdout);
    std::fprintf(stderr, "dapsession: %s\n", error.c_str());
    return 1;
  };
  // What is held carries no more data than this; the printer reads the rest
  // again where it needs it.
  const std::size_t cap = std::min<std::size_t>(Printer::data_wanted(brief), 64 << 10);
  dapsession::Reader reader(dapsession::ReadOptions::browse(cap));
  // A call too big to hold is read again, as far as the first reading
  // checked it.
  dapsession::Reader again(dapsession::ReadOptions::reread(cap));
  if (!reader.open(path, &error))
    return failed();
  // Lines of a big file go out in few writes.
  static char out_buffer[1 << 18];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  Printer printer(&reader, brief, raw);
  std::printf("session file %s: version %u, %u ticks a second\n", path.c_str(), reader.version(),
              reader.ticks_per_second());
  CallFinder finder;
  Held held;
  std::size_t group = SIZE_MAX; // the held records' first
  bool spilled = false, again_open = false;
  std::size_t again_at = 0;
  // Prints the held records, up to record `end`.
  auto print_held = [&](std::size_t end) {
    if (!spilled) {
      if (!held.drain([&](const Record &r, std::size_t i) { return printer.take(r, i, &error); }))
        return false;
    } else {
      // Only what the first reading checked is read again.
      if (!again_open) {
        if (!again.open(path, &error))
          return false;
        again_open = true;
      }
      for (; again_at < group; ++again_at)
        if (!again.skip(&error))
          return false;
      Record r;
      for (; again_at < end; ++again_at)
        if (!again.next(&r, &error) || !printer.take(r, again_at, &error))
          return false;
    }
    spilled = false;
    group = SIZE_MAX;
    return true;
  };
  Record r;
  std::size_t i = 0, calls = 0;
  std::int64_t tick = -1;
  for (; reader.next(&r, &error); ++i) {
    Call call;
    CallView view;
    const bool ends = finder.take(r, i, &call, &view);
    calls += ends ? 1 : 0;
    if (r.tick >= 0)
      tick = r.tick;
    if (!ends && !finder.holding()) {
      if (!print_held(i) || !printer.take(r, i, &error))
        return failed();
      continue;
    }
    if (group == SIZE_MAX)
      group = i;
    if (!spilled) {
      held.add(i, r);
      if (held.bytes() > most_held) {
        spilled = true;
        held.release();
      }
    }
    if (ends && (!printer.begin_call(call, std::move(view), &error) || !print_held(i + 1)))
      return failed();
  }
  if (!error.empty())
    return failed();
  // A file without its end record may end inside a call: it is shown
  // under a header of its own.
  const bool inside = reader.unfinished() && finder.inside();
  if (inside) {
    CallView cut_short;
    cut_short.say("cut short: the recording ends inside it");
    if (!printer.begin_call(Call{}, std::move(cut_short), &error))
      return failed();
  }
  if (!print_held(i) || !printer.finish(&error))
    return failed();
  if (reader.unfinished())
    std::printf("%s\n", unfinished_line(calls, inside, tick, reader.dropped()).c_str());
  std::printf("%zu records\n", i);
  return 0;
}

} // namespace dapsession::tool
