// dapsession: a session file as text, or cut down to some of its command
// calls. See `dapsession --help`.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "session.h"
#include "text.h"

namespace {

using dapsession::Kind;
using dapsession::Record;

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
                      "      damaged or cut short, and the byte where that starts).\n"
                      "\n"
                      "A file that is refused is refused by show and cut too (exit status 1):\n"
                      "show reads the file as it goes, so it prints the calls before the damage,\n"
                      "then says where the damage starts.\n"
                      "A recording that stopped early says why: \"limit\" (its size limit) or\n"
                      "\"recording stopped: REASON\" (a write of the file failed).\n";

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

std::string words(const std::vector<std::uint8_t> &bytes, std::size_t limit) {
  std::string out;
  put_words(&out, bytes, limit, bytes.size());
  return out;
}

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

// A stimulus table of 602 entries (PairOut, WaveOut, WaveData).
constexpr std::size_t kTableBytes = 1204;

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

// The command calls: [first record, last record] of each.
struct Call {
  std::size_t first = 0; // its first record (DAPL opens and loader runs before it included)
  std::size_t open = 0;  // the open that starts it
  std::size_t last = 0;  // the close or release that ends it
  bool decodes = false;  // some of its binary data is decoded
};

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

const std::vector<Family> kFamilies = {
    // shrtreca runs beside either: it says nothing about the leading record.
    {"sweep", {"shrtrecb"}, {{"lead", "col", "v:671i16", 2}, {"sweep", "col", "v:8i16", 1000}}, {}},
    {"sweep", {"shrtrecc"}, {{"sweep", "col", "v:8i16", 1000}}, {}},
    {"offset", {"offseta", "offsetb"}, {{"offset", nullptr, "a:i16 b:i16", 0}}, {}},
    {"marathon", {"recorda", "recordb"}, {{"block", "n", "v:500i16", 0}}, {}},
    {"tandem",
     {"echreadc", "echreadd"},
     {{"reply", nullptr, "w:3i16", 0}},
     {{"sent", nullptr, "w:3x16", 0}}},
    {"gate", {"recthrsha", "recthrshb"}, {{"gate", nullptr, "peak:i16 width:i16 n:i16", 0}}, {}},
    {"spike", {"spikera", "spikerb"}, {{"spike", nullptr, "ch:i16 t:u32 wave:20i16", 0}}, {}},
    {"smart", {"smarta", "smartb"}, {{"smart", nullptr, "ch:i16 t:u32 v1:u32 v2:i16", 0}}, {}},
    {"event",
     {"stimrespa", "stimrespb"},
     {{"event", nullptr, "ch:i16 t:u32 v1:i16 v2:i16", 0}},
     {{"table", nullptr, "v:502i16", 0}}},
};

const Family *family_of(const std::vector<std::string> &tasks) {
  for (const Family &f : kFamilies)
    for (const std::string &task : tasks)
      for (const std::string &name : f.tasks)
        if (task == name)
          return &f;
  return nullptr;
}

struct Field {
  std::string name;
  char type; // 'i', 'u' or 'x'
  int count;
  std::size_t bytes() const { return static_cast<std::size_t>(count) * (type == 'u' ? 4 : 2); }
};

std::vector<Field> parse_fields(const char *layout) {
  std::vector<Field> fields;
  for (const char *p = layout; *p != '\0';) {
    const char *colon = std::strchr(p, ':');
    Field f{std::string(p, colon), 'i', 1};
    char *type = nullptr;
    const long count = std::strtol(colon + 1, &type, 10);
    if (type != colon + 1)
      f.count = static_cast<int>(count);
    f.type = *type;
    fields.push_back(f);
    p = type + 3;
    while (*p == ' ')
      ++p;
  }
  return fields;
}

// Prints a stream's records as they complete; --brief keeps the first few of
// a call's stream and the start of long runs.
class Stream {
public:
  Stream(const std::vector<Part> &parts, bool brief) : parts_(parts), brief_(brief) { enter(0); }

  void feed(const std::vector<std::uint8_t> &data, std::uint64_t repeats) {
    // The recorder folds only calls without data; a repeated read from
    // elsewhere is decoded copy by copy, up to a bound.
    const std::uint64_t copies = std::min<std::uint64_t>(repeats, kMaxCopies);
    std::vector<std::string> lines;
    for (std::uint64_t c = 0; c < copies; ++c)
      take(data, &lines);
    // Identical records in a row are one line.
    for (std::size_t i = 0; i < lines.size();) {
      std::size_t j = i + 1;
      while (j < lines.size() && lines[j] == lines[i])
        ++j;
      print(j - i > 1 ? lines[i] + " x" + std::to_string(j - i) : lines[i]);
      i = j;
    }
    if (copies < repeats)
      print("(" + std::to_string(repeats - copies) + " more copies not decoded)");
  }

  // The bytes left over: part of a record, or more than the layout holds.
  void finish(const char *what) {
    if (hidden_ > 0)
      std::printf("    ... %zu more records %s\n", hidden_, what);
    pending_.insert(pending_.end(), surplus_.begin(), surplus_.end());
    if (!pending_.empty())
      std::printf("    %zu bytes %s past the last whole record: %s\n", pending_.size(), what,
                  hex(pending_, brief_ ? 32 : SIZE_MAX).c_str());
  }

private:
  static constexpr std::uint64_t kMaxCopies = 4096;
  static constexpr std::size_t kBriefRecords = 8;
  static constexpr int kBriefValues = 24;

  void enter(std::size_t part) {
    part_ = part;
    done_ = 0;
    size_ = 0;
    if (part_ < parts_.size()) {
      fields_ = parse_fields(parts_[part_].fields);
      for (const Field &f : fields_)
        size_ += f.bytes();
    }
  }

  void take(const std::vector<std::uint8_t> &data, std::vector<std::string> *lines) {
    std::size_t at = 0;
    while (at < data.size()) {
      if (part_ >= parts_.size()) {
        surplus_.insert(surplus_.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.end());
        return;
      }
      const std::size_t n = std::min(size_ - pending_.size(), data.size() - at);
      pending_.insert(pending_.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(at + n));
      at += n;
      if (pending_.size() < size_)
        return;
      lines->push_back(record_line());
      pending_.clear();
      if (++done_ == parts_[part_].count)
        enter(part_ + 1);
    }
  }

  std::string record_line() const {
    const Part &part = parts_[part_];
    std::string line = part.name;
    if (part.index != nullptr)
      line += " " + std::string(part.index) + "=" + std::to_string(done_ + 1);
    const std::uint8_t *p = pending_.data();
    for (const Field &f : fields_) {
      line += " " + f.name + "=";
      for (int k = 0; k < f.count; ++k, p += f.type == 'u' ? 4 : 2) {
        if (brief_ && k == kBriefValues) {
          line += ",...";
          p += (f.count - k) * (f.type == 'u' ? 4 : 2);
          break;
        }
        const unsigned word = p[0] | (p[1] << 8);
        char value[16];
        if (f.type == 'u')
          std::snprintf(value, sizeof value, "%lu",
                        static_cast<unsigned long>(word) |
                            (static_cast<unsigned long>(p[2] | (p[3] << 8)) << 16));
        else if (f.type == 'x')
          std::snprintf(value, sizeof value, "0x%04x", word);
        else
          std::snprintf(value, sizeof value, "%d",
                        word >= 0x8000 ? static_cast<int>(word) - 0x10000 : static_cast<int>(word));
        line += (k == 0 ? "" : ",") + std::string(value);
      }
    }
    return line;
  }

  void print(const std::string &line) {
    if (brief_ && shown_ >= kBriefRecords) {
      ++hidden_;
      return;
    }
    ++shown_;
    std::printf("    %s\n", line.c_str());
  }

  const std::vector<Part> &parts_;
  const bool brief_;
  std::size_t part_ = 0;
  int done_ = 0; // records of the current part so far
  std::vector<Field> fields_;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> pending_; // a record not yet complete
  std::vector<std::uint8_t> surplus_; // bytes past the layout's end
  std::size_t shown_ = 0, hidden_ = 0;
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

std::vector<std::string> split_names(const std::string &text) {
  std::vector<std::string> names;
  std::string name;
  for (const char c : text + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!name.empty())
        names.push_back(name);
      name.clear();
    } else {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return names;
}

// `line` sent in record `at` of the call. `carried` is the entry of
// board->running whose family the call took over (-1: none); once it stops,
// or other tasks start, its records end there.
void take_line(const std::string &line, std::size_t at, long carried, Board *board,
               CallView *view) {
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string::npos)
    return;
  if (view->first_line.empty())
    view->first_line = line.substr(first);
  const auto word_end = std::min(line.find_first_of(" \t", first), line.size());
  std::string word = line.substr(first, word_end - first);
  for (char &c : word)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto names_at = line.find_first_not_of(" \t", word_end);
  const std::string names = names_at == std::string::npos ? "" : line.substr(names_at);
  auto cut = [&] {
    if (!view->own && view->to == SIZE_MAX)
      view->to = at;
  };
  if (word == "reset") {
    for (Running &r : board->running)
      r.alive = false;
    board->defining = false;
    view->say("reset");
  } else if (board->defining) {
    board->defining = word != "end";
    return;
  } else if (word == "pdef" || word == "idef" || word == "odef") {
    board->defining = true;
    if (!names.empty())
      view->say("defines", split_names(names)[0]);
  } else if (word == "stop" && names.empty()) {
    for (Running &r : board->running)
      r.alive = false;
    view->say("stop");
  } else if (word == "stop") {
    for (const std::string &name : split_names(names))
      for (Running &r : board->running)
        for (const std::string &task : r.tasks)
          if (task == name)
            r.alive = false;
    view->say("stops", names);
  } else if (word == "start") {
    view->say("starts", names.empty() ? "all" : names);
    const std::vector<std::string> tasks = split_names(names);
    const Family *family = family_of(tasks);
    if (!names.empty())
      board->running.push_back({tasks, family, true});
    if (family != nullptr && !(view->own && view->family == family)) {
      view->family = family;
      view->own = true;
      view->from = at + 1;
      view->to = SIZE_MAX;
    } else if (family == nullptr) {
      cut();
    }
  }
  if (carried >= 0 && !board->running[static_cast<std::size_t>(carried)].alive)
    cut();
}

// Whether record `i`, of the call `view` tells about, has its data decoded.
bool decoded(const Record &r, std::size_t i, const CallView &view) {
  if (view.family == nullptr || r.node != dapsession::kAccel1 || r.data_size == 0 || i >= view.to)
    return false;
  if (r.kind == Kind::write)
    return !view.family->writes.empty();
  return r.kind == Kind::read && i >= view.from && !view.family->reads.empty();
}

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

private:
  void end_run() {
    run_first_ = SIZE_MAX;
    prelude_ = CallView{};
  }

  void begin(std::size_t open) {
    call_ = Call{};
    call_.open = open;
    call_.first = run_first_ != SIZE_MAX ? run_first_ : open;
    // Tasks stopped for good tell nothing more.
    board_.running.erase(std::remove_if(board_.running.begin(), board_.running.end(),
                                        [](const Running &r) { return !r.alive; }),
                         board_.running.end());
    view_ = std::move(prelude_);
    carried_ = -1;
    for (std::size_t k = board_.running.size(); k-- > 0 && carried_ < 0;)
      if (board_.running[k].alive && board_.running[k].family != nullptr)
        carried_ = static_cast<long>(k);
    if (carried_ >= 0)
      view_.family = board_.running[static_cast<std::size_t>(carried_)].family;
    view_.from = call_.first;
    text_.clear();
    written_ = read_ = 0;
    first_write_ = first_read_ = SIZE_MAX;
  }

  void take_inside(const Record &r, std::size_t i) {
    if (r.kind == Kind::dapl || r.kind == Kind::loader) {
      note(r, &view_);
    } else if (r.node == dapsession::kAccel1 && r.result > 0) {
      if (r.kind == Kind::write)
        written_ += static_cast<std::uint64_t>(r.result) * r.repeats;
      else if (r.kind == Kind::read)
        read_ += static_cast<std::uint64_t>(r.result) * r.repeats;
    }
    if (r.node == dapsession::kAccel1 && r.data_size > 0) {
      if (r.kind == Kind::write && first_write_ == SIZE_MAX)
        first_write_ = i;
      else if (r.kind == Kind::read && first_read_ == SIZE_MAX)
        first_read_ = i;
    }
    if (r.kind != Kind::write || r.node != dapsession::kAccel0)
      return;
    text_.append(r.data.begin(), r.data.end());
    std::size_t end;
    while ((end = text_.find_first_of("\r\n")) != std::string::npos) {
      line(text_.substr(0, end), i);
      text_.erase(0, end + 1);
    }
  }

  // A DAPL open or a loader run.
  static void note(const Record &r, CallView *view) {
    if (r.kind == Kind::dapl) {
      const std::string path(r.data.begin(), r.data.end());
      view->say("sends", path.substr(path.rfind('/') + 1));
    } else {
      view->say("runs the loader");
    }
  }

  void line(const std::string &text, std::size_t at) {
    const std::size_t from = view_.from;
    take_line(text, at, carried_, &board_, &view_);
    // Reads count from the call's own start on, once it has one.
    if (view_.from != from)
      first_read_ = SIZE_MAX;
  }

  void finish(std::size_t last) {
    call_.last = last;
    line(text_, last);
    // A program sent by bare name is known by what it defines.
    auto is = [](const char *key) { return [key](const auto &part) { return part.first == key; }; };
    if (std::any_of(view_.said.begin(), view_.said.end(), is("sends")))
      view_.said.erase(std::remove_if(view_.said.begin(), view_.said.end(), is("defines")),
                       view_.said.end());
    if (written_ > 0)
      view_.say("writes " + std::to_string(written_) + " bytes");
    if (read_ > 0)
      view_.say("reads " + std::to_string(read_) + " bytes");
    // Known only now: the view may change up to the call's last line.
    const Family *f = view_.family;
    call_.decodes = f != nullptr && ((!f->writes.empty() && first_write_ < view_.to) ||
                                     (!f->reads.empty() && first_read_ < view_.to));
  }

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

// Prints records as they are given, call by call: a call's header comes
// before its records, once all of it is known.
class Printer {
public:
  // `file` gives a record's data whole when it was read capped.
  Printer(dapsession::Reader *file, bool brief, bool raw)
      : file_(file), brief_(brief), raw_(raw), limit_(brief ? 32 : SIZE_MAX) {}

  // How much of a binary record's data the printer needs unless it decodes it.
  std::size_t data_wanted() const { return brief_ ? limit_ : SIZE_MAX; }

  // The call whose records come next (its first one next).
  bool begin_call(const Call &call, CallView view, std::string *error) {
    if (!flush_run(error))
      return false;
    call_ = call;
    view_ = std::move(view);
    ++number_;
    decoding_ = !raw_ && call_.decodes;
    reads_.reset(decoding_ ? new Stream(view_.family->reads, brief_) : nullptr);
    writes_.reset(decoding_ ? new Stream(view_.family->writes, brief_) : nullptr);
    std::string label = view_.label();
    if (decoding_)
      label += (label.empty() ? "" : "; ") + std::string(view_.family->name) + " records";
    std::printf("--- call %zu%s\n", number_, label.empty() ? "" : (": " + label).c_str());
    in_call_ = true;
    return true;
  }

  // Record `i`, in order.
  bool take(const Record &r, std::size_t i, std::string *error) {
    bool folded = false;
    if (brief_ && !fold(r, i, &folded, error))
      return false;
    return folded || print(r, i, error);
  }

  // At the end of the records.
  bool finish(std::string *error) { return flush_run(error); }

private:
  bool print(const Record &given, std::size_t i, std::string *error) {
    const bool binary = given.node == dapsession::kAccel1 &&
                        (given.kind == Kind::read || given.kind == Kind::write);
    Stream *stream = nullptr;
    if (in_call_ && decoding_ && decoded(given, i, view_))
      stream = given.kind == Kind::write ? writes_.get() : reads_.get();
    const bool table = binary && given.kind == Kind::write && given.data_size == kTableBytes;
    const std::uint64_t wanted = stream != nullptr || table
                                     ? given.data_size
                                     : std::min<std::uint64_t>(given.data_size, data_wanted());
    Record whole;
    if (binary && given.data.size() < wanted) {
      whole = given;
      if (!file_->fetch(given, &whole.data, error))
        return false;
    }
    const Record &r = whole.data.empty() ? given : whole;
    std::string &line = line_;
    line.clear();
    if (r.kind != Kind::clock && r.tick >= 0) {
      put_number(&line, r.tick);
      line += ' ';
    }
    describe(&line, r, stream != nullptr ? 0 : limit_, stream == nullptr);
    if (r.repeats > 1) {
      line += " x";
      put_number(&line, static_cast<long long>(r.repeats));
    }
    line += '\n';
    if (stream == nullptr && table && !raw_) {
      line += "    a0: " + output_words(r.data, limit_, 0) +
              "\n    a1: " + output_words(r.data, limit_, 1) + "\n";
    } else if (stream == nullptr && binary && r.data.size() >= 2) {
      line += "    int16: ";
      put_words(&line, r.data, limit_, r.data_size);
      line += '\n';
    }
    fwrite_unlocked(line.data(), 1, line.size(), stdout);
    if (stream != nullptr)
      stream->feed(r.data, r.repeats);
    if (in_call_ && i == call_.last) {
      if (decoding_) {
        reads_->finish("read");
        writes_->finish("written");
      }
      in_call_ = false;
    }
    return true;
  }

  // --brief: clock records with nothing between them but the same poll that
  // got nothing (a request answered alike, an empty read) are one line,
  // "clock FIRST..LAST xCALLS, between them POLL xN"; a run ends before the
  // next call. True when `r` went into a run.
  bool fold(const Record &r, std::size_t i, bool *folded, std::string *error) {
    *folded = true;
    if (run_.active) {
      if (r.kind == Kind::clock) {
        run_.calls += r.repeats;
        ++run_.clocks;
        run_.last_tick = r.tick;
        run_.polls = run_.polls_seen;
        run_.after.clear();
        return true;
      }
      const bool idle = (r.kind == Kind::ioctl || r.kind == Kind::read) && r.data_size == 0;
      if (idle && run_.after.size() < kMaxHeld) {
        if (run_.polls_seen == 0 || same_words(r, run_.poll)) {
          if (run_.polls_seen == 0)
            run_.poll = r;
          run_.polls_seen += r.repeats;
          run_.after.emplace_back(i, r);
          return true;
        }
      }
      if (!flush_run(error))
        return false;
    }
    *folded = r.kind == Kind::clock;
    if (!*folded)
      return true;
    // What was held before keeps its memory for this run.
    run_.active = true;
    run_.first.first = i;
    run_.first.second = r;
    run_.calls = r.repeats;
    run_.clocks = 1;
    run_.polls = run_.polls_seen = 0;
    run_.last_tick = r.tick;
    run_.after.clear();
    return true;
  }

  // The run as one line when it holds two clock records or more, then the
  // polls after its last one as they are.
  bool flush_run(std::string *error) {
    if (!run_.active)
      return true;
    run_.active = false;
    const Run &run = run_;
    if (run.clocks >= 2) {
      std::string line = "clock " + std::to_string(run.first.second.tick) + ".." +
                         std::to_string(run.last_tick) + " x" + std::to_string(run.calls);
      if (run.polls > 0)
        line += ", between them " + describe(run.poll, 0, false) + " x" + std::to_string(run.polls);
      std::printf("%s\n", line.c_str());
    } else if (!print(run.first.second, run.first.first, error)) {
      return false;
    }
    for (const auto &held : run.after)
      if (!print(held.second, held.first, error))
        return false;
    return true;
  }

  // A run holds records without data only, and in a file as recorded no
  // more than one after its last clock record (the recorder folds a poll
  // repeated within a tick); past this many, it is shown as it is.
  static constexpr std::size_t kMaxHeld = 4096;
  struct Run {
    bool active = false;
    std::pair<std::size_t, Record> first;
    std::uint64_t calls = 0, clocks = 0, polls = 0, polls_seen = 0;
    std::int64_t last_tick = 0;
    Record poll;                                       // the first poll between the clock records
    std::vector<std::pair<std::size_t, Record>> after; // since the last clock record
  };

  dapsession::Reader *file_;
  const bool brief_, raw_;
  const std::size_t limit_;
  Call call_;
  CallView view_;
  bool in_call_ = false, decoding_ = false;
  std::size_t number_ = 0;
  std::unique_ptr<Stream> reads_, writes_;
  Run run_;
  std::string line_; // the lines of the record being printed
};

// Records held for a while: consecutive ones, in the order they came, with
// as much of their data as they were read with, packed into pieces of 2 MiB
// taken from the system (as huge pages where it gives them: a page fault a
// piece, not one every 4 KiB) and used again for the next ones once drained.
class Held {
public:
  Held() = default;
  Held(const Held &) = delete;
  Held &operator=(const Held &) = delete;
  ~Held() { release(); }

  std::size_t bytes() const { return piece_ * kPiece + used_; }

  // Record `index`: the one after the last held, or the first.
  void add(std::size_t index, const Record &r) {
    const std::size_t data = std::min(r.data.size(), kPiece - sizeof(Entry));
    const std::size_t size = (sizeof(Entry) + data + 7) & ~std::size_t{7};
    if (pieces_.empty() || used_ + size > kPiece) {
      if (!pieces_.empty())
        ends_[piece_++] = used_;
      used_ = 0;
      if (piece_ == pieces_.size()) {
        void *piece = std::aligned_alloc(kPiece, kPiece);
        if (piece == nullptr)
          throw std::bad_alloc();
        ::madvise(piece, kPiece, MADV_HUGEPAGE);
        pieces_.push_back(piece);
        ends_.push_back(0);
      }
    }
    if (count_ == 0)
      first_ = index;
    Entry e{};
    e.tick = r.tick;
    e.repeats = r.repeats;
    e.offset = r.offset;
    e.result = static_cast<std::int32_t>(r.result);
    e.asked = r.asked;
    e.value = r.value;
    e.data_size = static_cast<std::uint32_t>(r.data_size);
    e.data = static_cast<std::uint32_t>(data);
    e.error = static_cast<std::uint16_t>(r.error);
    e.kind = r.kind;
    e.node = r.node;
    auto *at = static_cast<std::uint8_t *>(pieces_[piece_]) + used_;
    std::memcpy(at, &e, sizeof e);
    if (data > 0)
      std::memcpy(at + sizeof e, r.data.data(), data);
    used_ += size;
    ++count_;
  }

  // Gives each record and its index, in order, to `take` (false stops it);
  // then holds none.
  template <typename Take> bool drain(Take take) {
    Record r;
    std::size_t done = 0;
    for (std::size_t p = 0; p <= piece_ && done < count_; ++p) {
      const std::size_t end = p == piece_ ? used_ : ends_[p];
      for (std::size_t at = 0; done < count_ && at < end;) {
        const auto *bytes = static_cast<const std::uint8_t *>(pieces_[p]) + at;
        Entry e;
        std::memcpy(&e, bytes, sizeof e);
        const std::size_t size = (sizeof(Entry) + e.data + 7) & ~std::size_t{7};
        r.kind = e.kind;
        r.node = e.node;
        r.error = e.error;
        r.tick = e.tick;
        r.result = e.result;
        r.asked = e.asked;
        r.value = e.value;
        r.repeats = e.repeats;
        r.data.assign(bytes + sizeof e, bytes + sizeof e + e.data);
        r.data_size = e.data_size;
        r.offset = e.offset;
        if (!take(r, first_ + done))
          return false;
        at += size;
        ++done;
      }
    }
    clear();
    return true;
  }

  // Gives the memory back (once too much has been held).
  void release() {
    for (void *piece : pieces_)
      std::free(piece);
    pieces_.clear();
    ends_.clear();
    clear();
  }

private:
  void clear() { piece_ = used_ = count_ = 0; }

  static constexpr std::size_t kPiece = std::size_t{2} << 20;
  // A record as the file has it (results of 32 bits, errno of 16, data of
  // less than a block), then `data` bytes of its data.
  struct Entry {
    std::int64_t tick;
    std::uint64_t repeats, offset;
    std::int32_t result;
    std::uint32_t asked;
    std::int32_t value;
    std::uint32_t data_size, data;
    std::uint16_t error;
    Kind kind;
    std::uint8_t node;
  };
  std::vector<void *> pieces_;
  std::vector<std::size_t> ends_; // the bytes used in each full piece
  std::size_t piece_ = 0, used_ = 0, count_ = 0;
  std::size_t first_ = 0; // the first record's index
};

// The file is read once, as it goes: the records of a call (and of what may
// lead one: DAPL opens, loader runs, clock runs, Ctrl-Cs) are held until its
// close says what the call did, then printed under its header. A call too
// big to hold (40 MiB) is read again from its first record once it ends.
int show(const std::string &path, bool brief, bool raw) {
  // DAPSESSION_HOLD (bytes) lowers it, for the tests of the other way.
  const char *hold = std::getenv("DAPSESSION_HOLD");
  const std::size_t most_held =
      hold != nullptr ? std::strtoull(hold, nullptr, 10) : std::size_t{40} << 20;
  dapsession::Reader reader, again;
  std::string error;
  auto failed = [&] {
    std::fflush(stdout);
    std::fprintf(stderr, "dapsession: %s\n", error.c_str());
    return 1;
  };
  if (!reader.open(path, &error))
    return failed();
  // Lines of a big file go out in few writes.
  static char out_buffer[1 << 18];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  Printer printer(&reader, brief, raw);
  // What is held carries no more data than this; the printer reads the rest
  // again where it needs it.
  const std::size_t cap = std::min<std::size_t>(printer.data_wanted(), 64 << 10);
  reader.cap_data(cap);
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
        again.trust();
        if (!again.open(path, &error))
          return false;
        again_open = true;
      }
      Record r;
      again.cap_data(0);
      for (; again_at < group; ++again_at)
        if (!again.next(&r, &error))
          return false;
      again.cap_data(cap);
      for (; again_at < end; ++again_at)
        if (!again.next(&r, &error) || !printer.take(r, again_at, &error))
          return false;
    }
    spilled = false;
    group = SIZE_MAX;
    return true;
  };
  Record r;
  std::size_t i = 0;
  for (; reader.next(&r, &error); ++i) {
    Call call;
    CallView view;
    const bool ends = finder.take(r, i, &call, &view);
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
  if (!error.empty() || !print_held(i) || !printer.finish(&error))
    return failed();
  std::printf("%zu records\n", i);
  return 0;
}

// Read twice as it goes: first (checked, with only the records' text) to
// find the calls, then to copy those kept.
int cut(const std::string &path, const std::string &range, const std::string &out) {
  char *end = nullptr;
  const unsigned long first = std::strtoul(range.c_str(), &end, 10);
  unsigned long last = first;
  if (*end == '-')
    last = std::strtoul(end + 1, &end, 10);
  const bool ranged = *end == '\0' && first >= 1 && last >= first;
  dapsession::Reader finding;
  finding.keep_data([](const Record &r, int) {
    return r.node == dapsession::kAccel0 || r.kind == Kind::dapl || r.kind == Kind::loader;
  });
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
  dapsession::Reader copying;
  copying.trust();
  bool ok = copying.open(path, &error);
  int saved = 0;
  {
    dapsession::RecordWriter writer(fd, finding.ticks_per_second());
    Record r;
    for (std::size_t i = 0; ok && i < stop && copying.next(&r, &error); ++i)
      if (i >= from)
        ok = writer.add(r);
    ok = ok && error.empty() && writer.finish();
    saved = errno;
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

int check(const std::string &path) {
  dapsession::Reader reader;
  reader.skip_data();
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
