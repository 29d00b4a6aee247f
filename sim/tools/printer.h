// `dapsession show`'s output: records printed call by call, each call's
// header before its records; --brief folds runs of clock records and polls.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "calls.h"
#include "describe.h"
#include "stream.h"

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

// Prints records as they are given, call by call: a call's header comes
// before its records, once all of it is known.
class Printer {
public:
  // `file` gives a record's data whole when it was read capped.
  Printer(dapsession::Reader *file, bool brief, bool raw)
      : file_(file), brief_(brief), raw_(raw), limit_(brief ? 32 : SIZE_MAX) {}

  // How much of a binary record's data the printer needs unless it decodes it.
  static std::size_t data_wanted(bool brief) { return brief ? 32 : SIZE_MAX; }
  std::size_t data_wanted() const { return data_wanted(brief_); }

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

} // namespace dapsession::tool
