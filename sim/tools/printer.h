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
  bool begin_call(const Call &call, CallView view, std::string *error);

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
  bool print(const Record &given, std::size_t i, std::string *error);

  // --brief: clock records with nothing between them but the same poll that
  // got nothing (a request answered alike, an empty read) are one line,
  // "clock FIRST..LAST xCALLS, between them POLL xN"; a run ends before the
  // next call. True when `r` went into a run.
  bool fold(const Record &r, std::size_t i, bool *folded, std::string *error);

  // The run as one line when it holds two clock records or more, then the
  // polls after its last one as they are.
  bool flush_run(std::string *error);

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
