#include "printer.h"

#include <cstdio>
#include <cstring>

namespace dapsession::tool {

using dapsession::Kind;
using dapsession::Record;

bool Printer::begin_call(const Call &call, CallView view, std::string *error) {
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

bool Printer::print(const Record &given, std::size_t i, std::string *error) {
  const bool binary =
      given.node == dapsession::kAccel1 && (given.kind == Kind::read || given.kind == Kind::write);
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

bool Printer::fold(const Record &r, std::size_t i, bool *folded, std::string *error) {
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

bool Printer::flush_run(std::string *error) {
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

} // namespace dapsession::tool
