#include "trace.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace dapsim {

namespace {

// How far behind the file may fall on a merged event's count. A polling loop
// repeats one event millions of times, and rewriting its line on every repeat
// cost seconds of system time.
constexpr auto kFileLag = std::chrono::milliseconds(50);

} // namespace

std::string Trace::line(const Event &e) {
  std::string out = std::to_string(e.tick) + " " + e.text;
  if (e.count > 1)
    out += " x" + std::to_string(e.count);
  out += '\n';
  return out;
}

std::string Trace::text() const {
  std::string out;
  for (const auto &e : events_)
    out += line(e);
  return out;
}

void Trace::add(Tick tick, std::string text) {
  struct KeepErrno {
    int value = errno;
    ~KeepErrno() { errno = value; }
  } keep;
  file_add(tick, text);
  if (!events_.empty() && events_.back().text == text) {
    ++events_.back().count;
    return;
  }
  if (events_.size() >= kLimit) {
    // A runaway scenario must not eat the host's memory; the file keeps all.
    if (!truncated_) {
      truncated_ = true;
      events_.push_back({tick, "trace full: later events are in DAPSIM_TRACE only", 1});
    }
  } else {
    events_.push_back({tick, std::move(text), 1});
  }
}

void Trace::attach_file(int fd) {
  fd_ = fd;
  end_ = lseek(fd_, 0, SEEK_END);
  if (end_ < 0)
    end_ = 0;
  last_start_ = end_;
  for (const Event &e : events_)
    for (std::uint64_t k = 0; k < e.count; ++k)
      file_add(e.tick, e.text);
}

// The file is written as the trace grows, so that it reads as the trace does
// even when the process dies in the middle of a run. A merged event's line is
// brought up to date with the next event, at exit, or once kFileLag has
// passed since the file was last written.
void Trace::file_add(Tick tick, const std::string &text) {
  if (fd_ < 0)
    return;
  if (last_ && last_->text == text) {
    ++last_->count;
    last_stale_ = true;
    if (std::chrono::steady_clock::now() - last_written_ >= kFileLag)
      file_flush();
    return;
  }
  file_flush(line({tick, text, 1}));
  last_ = Event{tick, text, 1};
}

// Rewrites the last line if its count is behind, then appends `next_line`,
// in one write. A line only grows as its count does, so the rewrite never
// leaves a tail behind it.
void Trace::file_flush(const std::string &next_line) {
  if (fd_ < 0 || (!last_stale_ && next_line.empty()))
    return;
  off_t at = end_;
  std::string out;
  if (last_stale_) {
    at = last_start_;
    out = line(*last_);
  }
  const off_t next_start = at + static_cast<off_t>(out.size());
  out += next_line;
  [[maybe_unused]] const ssize_t written = pwrite(fd_, out.data(), out.size(), at);
  end_ = at + static_cast<off_t>(out.size());
  if (!next_line.empty())
    last_start_ = next_start;
  last_stale_ = false;
  last_written_ = std::chrono::steady_clock::now();
}

void Trace::clear() {
  events_.clear();
  truncated_ = false;
  last_.reset();
  last_stale_ = false;
  if (fd_ >= 0) {
    [[maybe_unused]] const int rc = ftruncate(fd_, 0);
    end_ = last_start_ = 0;
  }
}

} // namespace dapsim
