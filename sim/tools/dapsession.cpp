// dapsession: a session file as text, or cut down to some of its command
// calls. See `dapsession --help`.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session.h"

namespace {

using dapsession::Kind;
using dapsession::Record;
using dapsession::Session;

const char kUsage[] = "Usage: dapsession show FILE [--brief]\n"
                      "       dapsession cut FILE FIRST[-LAST] OUT\n"
                      "\n"
                      "show  prints every record of a session file, one a line: the tick, the\n"
                      "      channel, the call and its outcome. Text sent to accel0 (DAPL lines)\n"
                      "      is shown as quoted text, bytes on accel1 in hex, followed by the\n"
                      "      same bytes as signed 16-bit little-endian words (the board's\n"
                      "      samples and table entries). --brief cuts data to 32 bytes.\n"
                      "      Command calls are numbered: a call runs from an open when no\n"
                      "      device is open to the close that leaves none open.\n"
                      "cut   writes to OUT the command calls FIRST to LAST (numbered as show\n"
                      "      numbers them), with the DAPL opens and loader runs just before the\n"
                      "      first one, so that OUT replays those calls alone.\n";

std::string quoted(const std::vector<std::uint8_t> &bytes, std::size_t limit) {
  std::string out = "\"";
  const std::size_t n = std::min(bytes.size(), limit);
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = bytes[i];
    switch (c) {
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    default:
      if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
      } else {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02x", c);
        out += esc;
      }
    }
  }
  out += '"';
  if (n < bytes.size())
    out += "...";
  return out;
}

std::string hex(const std::vector<std::uint8_t> &bytes, std::size_t limit) {
  std::string out;
  const std::size_t n = std::min(bytes.size(), limit);
  for (std::size_t i = 0; i < n; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    out += pair;
  }
  if (n < bytes.size())
    out += "...";
  return out;
}

std::string words(const std::vector<std::uint8_t> &bytes, std::size_t limit) {
  std::string out;
  const std::size_t n = std::min(bytes.size(), limit) / 2;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned v = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    const int word = v >= 0x8000 ? static_cast<int>(v) - 0x10000 : static_cast<int>(v);
    out += (i == 0 ? "" : " ") + std::to_string(word);
  }
  if (2 * n < bytes.size())
    out += " ...";
  return out;
}

std::string outcome(const Record &r) {
  if (r.result < 0 && r.error != 0)
    return "-1 errno=" + std::to_string(r.error);
  return std::to_string(r.result);
}

std::string data_text(const Record &r, std::size_t limit) {
  if (r.node == dapsession::kAccel0)
    return quoted(r.data, limit);
  return hex(r.data, limit);
}

std::string describe(const Record &r, std::size_t limit) {
  const std::string node = dapsession::node_name(r.node);
  switch (r.kind) {
  case Kind::open:
    return "open " + node + " -> " + (r.result < 0 ? outcome(r) : "fd=" + std::to_string(r.result));
  case Kind::read:
    return "read " + node + " " + std::to_string(r.asked) + " -> " + outcome(r) +
           (r.data.empty() ? "" : " " + data_text(r, limit));
  case Kind::write:
    return "write " + node + " " + std::to_string(r.asked) + " " + data_text(r, limit) + " -> " +
           outcome(r);
  case Kind::ioctl:
    return "ioctl " + node + " " + std::to_string(r.asked) + " -> " + outcome(r) +
           " value=" + std::to_string(r.value);
  case Kind::close:
    return "close " + node + " -> " + outcome(r);
  case Kind::release:
    return "release " + node + " fd=" + std::to_string(r.result);
  case Kind::dapl:
    return "dapl " + std::string(r.data.begin(), r.data.end()) + " -> " +
           (r.result < 0 ? outcome(r) : "fd=" + std::to_string(r.result));
  case Kind::loader:
    return "loader " + quoted(r.data, SIZE_MAX) + " -> " + outcome(r);
  case Kind::clock:
    return "clock " + std::to_string(r.tick);
  case Kind::repeat:
    return "repeat";
  case Kind::limit:
    return "limit: the recording stopped here (size limit)";
  }
  return "?";
}

// The command calls: [first record, last record] of each.
struct Call {
  std::size_t first = 0; // its first record (DAPL opens and loader runs before it included)
  std::size_t open = 0;  // the open that starts it
  std::size_t last = 0;  // the close or release that ends it
};

std::vector<Call> find_calls(const Session &s) {
  std::vector<Call> calls;
  int open_now = 0;
  std::size_t since = 0; // first record after the previous call
  Call current;
  for (std::size_t i = 0; i < s.records.size(); ++i) {
    const Record &r = s.records[i];
    if (r.kind == Kind::open && r.result >= 0) {
      if (open_now == 0) {
        current = Call{};
        current.open = i;
        // Only the DAPL opens, loader runs and clock runs just before the
        // open belong to it.
        std::size_t first = i;
        while (first > since && (s.records[first - 1].kind == Kind::dapl ||
                                 s.records[first - 1].kind == Kind::loader ||
                                 s.records[first - 1].kind == Kind::clock))
          --first;
        current.first = first;
      }
      ++open_now;
    } else if ((r.kind == Kind::close || r.kind == Kind::release) && open_now > 0) {
      if (--open_now == 0) {
        current.last = i;
        calls.push_back(current);
        since = i + 1;
      }
    }
  }
  return calls;
}

// The tasks a call starts ("start a,b" lines on the text channel): which
// family's call it is, at a glance.
std::string tasks_started(const Session &s, const Call &call) {
  std::string text;
  for (std::size_t i = call.first; i <= call.last; ++i) {
    const Record &r = s.records[i];
    if (r.kind == Kind::write && r.node == dapsession::kAccel0)
      text.append(r.data.begin(), r.data.end());
  }
  std::string started;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.size() < first + 6)
      continue;
    std::string word = line.substr(first, 6);
    for (char &c : word)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word != "start " && word != "start\t")
      continue;
    const auto names = line.find_first_not_of(" \t", first + 5);
    if (names == std::string::npos)
      continue;
    const std::string these = line.substr(names);
    if ((" " + started + " ").find(" " + these + " ") == std::string::npos)
      started += (started.empty() ? "" : " ") + these;
  }
  return started;
}

int show(const std::string &path, bool brief) {
  Session s;
  std::string error;
  if (!dapsession::read_session(path, &s, &error)) {
    std::fprintf(stderr, "dapsession: %s\n", error.c_str());
    return 1;
  }
  const std::size_t limit = brief ? 32 : SIZE_MAX;
  std::printf("session file %s: version %u, %u ticks a second, %zu records\n", path.c_str(),
              s.version, s.ticks_per_second, s.records.size());
  const std::vector<Call> calls = find_calls(s);
  std::size_t next_call = 0;
  for (std::size_t i = 0; i < s.records.size(); ++i) {
    if (next_call < calls.size() && calls[next_call].first == i) {
      const std::string started = tasks_started(s, calls[next_call]);
      ++next_call;
      std::printf("--- call %zu%s\n", next_call,
                  started.empty() ? "" : (": starts " + started).c_str());
    }
    const Record &r = s.records[i];
    std::string line = describe(r, limit);
    if (r.repeats > 1)
      line += " x" + std::to_string(r.repeats);
    if (r.kind == Kind::clock || r.tick < 0)
      std::printf("%s\n", line.c_str());
    else
      std::printf("%lld %s\n", static_cast<long long>(r.tick), line.c_str());
    if (r.node == dapsession::kAccel1 && r.data.size() >= 2 &&
        (r.kind == Kind::read || r.kind == Kind::write))
      std::printf("    int16: %s\n", words(r.data, limit).c_str());
  }
  if (s.truncated)
    std::printf("(the file ends inside a record)\n");
  return 0;
}

bool write_all(int fd, const std::uint8_t *p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

int cut(const std::string &path, const std::string &range, const std::string &out) {
  Session s;
  std::string error;
  if (!dapsession::read_session(path, &s, &error)) {
    std::fprintf(stderr, "dapsession: %s\n", error.c_str());
    return 1;
  }
  char *end = nullptr;
  const unsigned long first = std::strtoul(range.c_str(), &end, 10);
  unsigned long last = first;
  if (*end == '-')
    last = std::strtoul(end + 1, &end, 10);
  const std::vector<Call> calls = find_calls(s);
  if (*end != '\0' || first < 1 || last < first || last > calls.size()) {
    std::fprintf(stderr, "dapsession: %s has %zu command calls; '%s' is not a range of them\n",
                 path.c_str(), calls.size(), range.c_str());
    return 2;
  }
  // The records are copied as they are in the file, repeats included.
  std::vector<std::uint8_t> bytes;
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::uint8_t chunk[65536];
    ssize_t n;
    while (fd >= 0 && (n = ::read(fd, chunk, sizeof chunk)) > 0)
      bytes.insert(bytes.end(), chunk, chunk + n);
    if (fd >= 0)
      ::close(fd);
  }
  const Record &from = s.records[calls[first - 1].first];
  const Record &to = s.records[calls[last - 1].last];
  std::uint64_t stop = to.offset + to.size;
  // Clock runs written just after the last close still belong to it.
  for (std::size_t i = calls[last - 1].last + 1;
       i < s.records.size() && s.records[i].kind == Kind::clock; ++i)
    stop = s.records[i].offset + s.records[i].size;
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "dapsession: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  const bool ok = write_all(fd, bytes.data(), dapsession::kHeaderSize) &&
                  write_all(fd, bytes.data() + from.offset, stop - from.offset);
  if (::close(fd) != 0 || !ok) {
    std::fprintf(stderr, "dapsession: cannot write %s\n", out.c_str());
    return 1;
  }
  std::printf("calls %lu to %lu (%llu bytes) written to %s\n", first, last,
              static_cast<unsigned long long>(dapsession::kHeaderSize + stop - from.offset),
              out.c_str());
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "show" && (args.size() == 2 || (args.size() == 3 && args[2] == "--brief")))
    return show(args[1], args.size() == 3);
  if (args[0] == "cut" && args.size() == 4)
    return cut(args[1], args[2], args[3]);
  std::fputs(kUsage, stderr);
  return 2;
}
