// The command calls of a session, found as its records come: a call runs
// from an open when no device is open to the close that leaves none open.
// What each did (the lines sent, the files, the tasks started) and which
// family's records its binary data holds. Shared by `show` and `cut`.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "families.h"
#include "session.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

// The command calls: [first record, last record] of each.
struct Call {
  std::size_t first = 0; // its first record (DAPL opens and loader runs before it included)
  std::size_t open = 0;  // the open that starts it
  std::size_t last = 0;  // the close or release that ends it
  bool decodes = false;  // some of its binary data is decoded
};

// What a call did, in a few words, and which family's records its binary
// data holds.
struct CallView {
  // What it did, in the order it first did it: "reset", "sends FILE ...",
  // "defines NAMES" (a program sent by bare name), "starts NAMES ...",
  // "stops NAMES", "stop", "runs the loader", then the bytes it wrote and
  // read on accel1.
  std::vector<std::pair<std::string, std::string>> said;
  const Family *family = nullptr; // nullptr: the data is shown raw
  bool own = false;               // the family's start line is the call's own
  std::size_t from = 0;           // the first record whose reads are the family's
  std::size_t to = SIZE_MAX;      // the first that is not: a RESET, a stop or another start
  std::string first_line;         // the first line sent, for a call that did nothing else

  // Adds `words` to the part named `key` (a new part when there is none).
  void say(const std::string &key, const std::string &words = "") {
    for (auto &part : said)
      if (part.first == key) {
        if (!words.empty() &&
            (" " + part.second + " ").find(" " + words + " ") == std::string::npos)
          part.second += " " + words;
        return;
      }
    said.emplace_back(key, words);
  }
  std::string label() const {
    std::string out = said.empty() && !first_line.empty() ? "sends \"" + first_line + "\"" : "";
    for (const auto &part : said)
      out +=
          (out.empty() ? "" : "; ") + part.first + (part.second.empty() ? "" : " " + part.second);
    return out;
  }
};

// A start line's tasks, until a stop names one of them or stops everything.
struct Running {
  std::vector<std::string> tasks;
  const Family *family;
  bool alive;
};

// What the text channel has told the board so far.
struct Board {
  std::vector<Running> running;
  bool defining = false; // inside a PDEF/IDEF/ODEF, up to its END
};

// Whether record `i`, of the call `view` tells about, has its data decoded.
bool decoded(const Record &r, std::size_t i, const CallView &view);

// The command calls, found as the records come, one at a time, and what
// each did. A call that starts none of the families' tasks (a sweep read, a
// gate read) gets the records of the tasks last started and all still
// running, up to a RESET, a stop of them or a start of others. Reads before a
// call's own start line are left raw: they drain what was there. What is
// held is one call's worth of state, whatever the file's size: only the
// records' text (accel0 writes, DAPL paths, loader command lines) is needed.
class CallFinder {
public:
  // Takes record `i` (they come in order). True when it ends a call: *call
  // and *view then tell about it.
  bool take(const Record &r, std::size_t i, Call *call, CallView *view) {
    if (open_now_ == 0 && !(r.kind == Kind::open && r.result >= 0)) {
      // Only the DAPL opens, loader runs, clock runs and Ctrl-Cs just
      // before an open belong to its call.
      if (r.kind == Kind::dapl || r.kind == Kind::loader || r.kind == Kind::clock ||
          r.kind == Kind::interrupt) {
        if (run_first_ == SIZE_MAX)
          run_first_ = i;
        if (r.kind == Kind::dapl || r.kind == Kind::loader)
          note(r, &prelude_);
      } else {
        end_run();
      }
      return false;
    }
    if (r.kind == Kind::open && r.result >= 0 && open_now_++ == 0)
      begin(i);
    take_inside(r, i);
    if ((r.kind == Kind::close || r.kind == Kind::release) && --open_now_ == 0) {
      finish(i);
      *call = call_;
      *view = std::move(view_);
      end_run();
      return true;
    }
    return false;
  }

  // Whether the last record may be part of a call not yet ended: inside one,
  // or in what may lead one.
  bool holding() const { return open_now_ > 0 || run_first_ != SIZE_MAX; }
  // Whether a call has begun and not ended.
  bool inside() const { return open_now_ > 0; }

private:
  void end_run();
  void begin(std::size_t open);
  void take_inside(const Record &r, std::size_t i);
  // A DAPL open or a loader run.
  static void note(const Record &r, CallView *view);
  void line(const std::string &text, std::size_t at);
  void finish(std::size_t last);

  int open_now_ = 0;
  std::size_t run_first_ = SIZE_MAX; // of the records that may lead the next call
  CallView prelude_;                 // what they said
  Call call_;
  CallView view_;
  Board board_;
  long carried_ = -1;
  std::string text_; // sent on accel0, not yet a whole line
  std::uint64_t written_ = 0, read_ = 0;
  // The call's first binary write, and its first binary read since its
  // view's `from`: whether any of its data is decoded.
  std::size_t first_write_ = SIZE_MAX, first_read_ = SIZE_MAX;
};

} // namespace dapsession::tool
