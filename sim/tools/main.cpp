// dapsession: a session file as text, checked, or cut down to some of its
// command calls. See `dapsession --help`.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace {

using namespace dapsession::tool;

const char kUsage[] = "Usage: dapsession show FILE [--brief] [--raw]\n"
                      "       dapsession cut FILE FIRST[-LAST] OUT\n"
                      "       dapsession check FILE\n"
                      "\n"
                      "show  prints every record of a session file, one a line: the tick, the\n"
                      "      channel, the call and its outcome. Text sent to accel0 (DAPL lines)\n"
                      "      is shown as quoted text. Command calls are numbered: a call runs\n"
                      "      from an open when no device is open to the close that leaves none\n"
                      "      open, and each says what it did (reset, files sent, tasks\n"
                      "      defined, started and stopped, bytes written and read). Where the\n"
                      "      tasks a call starts (or, for a call that starts none, the tasks\n"
                      "      last started, until a RESET or stop) say what its binary data is\n"
                      "      (sweeps, offsets, marathon blocks, tandem, gate, spike, smart or\n"
                      "      event records, the stimulus table), that data is decoded: a record a\n"
                      "      line, under the read or write that completes it, and bytes left\n"
                      "      over in hex at the end of the call. Other bytes on accel1 are shown\n"
                      "      in hex, followed by the same bytes as signed 16-bit little-endian\n"
                      "      words (a 602-entry stimulus table as its outputs a0 and a1);\n"
                      "      --raw shows all of them so. --brief cuts data to 32 bytes, a\n"
                      "      decoded call to its first 8 records and runs to 24 values, and\n"
                      "      makes a run of clock records one line. The last line counts the\n"
                      "      records.\n"
                      "cut   writes to OUT the command calls FIRST to LAST (numbered as show\n"
                      "      numbers them), with the DAPL opens and loader runs just before the\n"
                      "      first one, and every clock value they read, so that OUT replays\n"
                      "      those calls alone.\n"
                      "check reads the whole file and says whether a replay would take it:\n"
                      "      exit status 0, or 1 with the reason (empty, not a session file,\n"
                      "      damaged, and the bytes where that is), or 3 when the file is\n"
                      "      unfinished: it ends without its end record (the recording process\n"
                      "      died, or a copy was cut), and is read up to its last whole block:\n"
                      "      \"unfinished: the recording ends after call N (tick T); B bytes\n"
                      "      after the last whole block dropped\". A replay plays it.\n"
                      "\n"
                      "A file that is refused is refused by show and cut too (exit status 1):\n"
                      "show reads the file as it goes, so it prints the calls before the damage,\n"
                      "then says where the damage starts. An unfinished file is shown (a call\n"
                      "under way at its end under a header of its own, then the line check\n"
                      "prints) and cut (exit status 0; the calls cut are a finished file).\n"
                      "A recording that stopped early says why: \"limit\" (its size limit) or\n"
                      "\"recording stopped: REASON\" (a write of the file failed).\n"
                      "\n"
                      "For example, after a crash on the rig:\n"
                      "  dapsession check session.ses; dapsession cut session.ses 1-12 part.ses\n";

int run(const std::vector<std::string> &args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "show") {
    // The options may come before the file as well as after it.
    bool brief = false, raw = false;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--brief")
        brief = true;
      else if (args[i] == "--raw")
        raw = true;
      else
        files.push_back(args[i]);
    }
    if (files.size() == 1)
      return show(files[0], brief, raw);
  }
  if (args[0] == "check" && args.size() == 2)
    return check(args[1]);
  if (args[0] == "cut" && args.size() == 4)
    return cut(args[1], args[2], args[3]);
  std::fputs(kUsage, stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  const int status = run(std::vector<std::string>(argv + 1, argv + argc));
  // What was printed must have got there: a show cut short by a full disk
  // is a failure, not a success.
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (!flushed || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "dapsession: cannot write the standard output%s%s\n", flushed ? "" : ": ",
                 flushed ? "" : std::strerror(error));
    return status != 0 ? status : 1;
  }
  return status;
}
