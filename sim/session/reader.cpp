// The records of a session file as a reader returns them: decoded, their
// repeat records folded in, with as much of their data as the reader is for.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "reader.h"

namespace dapsession {

namespace {

// A run is the times() calls within one tick: tens of thousands at the
// most on a rig. Millions more are damage (and would keep a host's tick
// wait spinning for hours).
constexpr std::uint64_t kMaxClockRun = std::uint64_t{1} << 24;

bool text_data(const Record &r, int) {
  return r.node == kAccel0 || r.kind == Kind::dapl || r.kind == Kind::loader;
}

} // namespace

ReadOptions ReadOptions::check_only() {
  ReadOptions o;
  o.data = false;
  return o;
}

ReadOptions ReadOptions::outline() {
  ReadOptions o;
  o.with_data = text_data;
  return o;
}

ReadOptions ReadOptions::browse(std::size_t cap) {
  ReadOptions o;
  o.cap = cap;
  return o;
}

ReadOptions ReadOptions::reread(std::size_t cap) {
  ReadOptions o;
  o.verify = false;
  o.cap = cap;
  return o;
}

ReadOptions ReadOptions::some_records(Filter wanted, int argument, BlockCache *cache) {
  ReadOptions o;
  o.verify = false;
  o.wanted = wanted;
  o.wanted_argument = argument;
  o.cache = cache;
  return o;
}

bool Reader::fetch(const Record &r, std::vector<std::uint8_t> *data, std::string *error) {
  const std::uint64_t at =
      r.offset + kCommonSize + fixed_size(static_cast<std::uint8_t>(r.kind), version_);
  data->resize(static_cast<std::size_t>(r.data_size));
  std::size_t got = 0;
  if (bytes_ != nullptr) {
    if (at <= bytes_->size() && r.data_size <= bytes_->size() - at) {
      std::memcpy(data->data(), bytes_->data() + at, data->size());
      got = data->size();
    }
  } else {
    while (got < data->size()) {
      const ssize_t n =
          ::pread(fd_, data->data() + got, data->size() - got, static_cast<off_t>(at + got));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got += static_cast<std::size_t>(n);
    }
  }
  if (got == data->size())
    return true;
  *error = name_ + ": cannot read the data of the record at byte " + std::to_string(r.offset) +
           " again (the file changed?)";
  return false;
}

bool Reader::copies_data(const Record &r) const {
  return options_.data &&
         (options_.wanted == nullptr || options_.wanted(r, options_.wanted_argument)) &&
         (options_.with_data == nullptr || options_.with_data(r, 0));
}

// One record as it is in the file, repeat records not folded.
bool Reader::parse(Record *r, std::string *error, bool *at_end) {
  *at_end = false;
  if (at_ == held_size()) {
    if (version_ >= 2) {
      if (!next_block(error, at_end))
        return false;
      if (*at_end)
        return true;
    } else if (!ensure(1, base_ + at_, error)) {
      if (!io_failed_ && held_size() == at_) {
        failed_ = false;
        error->clear();
        *at_end = true;
        return true;
      }
      return false;
    }
  }
  const std::uint64_t start = base_ + at_;
  if (ended_ && version_ >= 2)
    return fail(start, "refused: damaged (records after the end record)", error);
  if (!ensure(kCommonSize, start, error))
    return false;
  const std::uint8_t kind = held()[at_];
  const std::size_t fixed = fixed_size(kind, version_);
  if (fixed == SIZE_MAX)
    return fail(start, "refused: damaged (unknown record kind " + std::to_string(kind) + ")",
                error);
  if (!ensure(kCommonSize + fixed, start, error))
    return false;
  const std::uint64_t data = decode_record(held() + at_, r);
  if (r->kind == Kind::limit)
    limit_reached_ = true;
  else if (r->kind == Kind::stopped)
    stopped_error_ = r->error != 0 ? r->error : EIO;
  else if (r->kind == Kind::end)
    ended_ = true;
  if (r->kind == Kind::clock && (r->repeats == 0 || r->repeats > kMaxClockRun))
    return fail(start, "refused: damaged (a clock run of " + std::to_string(r->repeats) + " calls)",
                error);
  const std::size_t head = kCommonSize + fixed;
  if (!ensure(head + data, start, error))
    return false;
  r->data_size = data;
  if (copies_data(*r)) {
    const std::size_t kept = r->node == kAccel1 &&
                                     (r->kind == Kind::read || r->kind == Kind::write) &&
                                     data > options_.cap
                                 ? options_.cap
                                 : static_cast<std::size_t>(data);
    r->data.assign(held() + at_ + head, held() + at_ + head + kept);
  }
  at_ += head + data;
  r->offset = start;
  r->size = head + data;
  return true;
}

bool Reader::next(Record *record, std::string *error) {
  if (failed_) {
    *error = failure_;
    return false;
  }
  error->clear();
  while (true) {
    Record r;
    bool at_end = false;
    if (have_next_) {
      r = std::move(next_);
      have_next_ = false;
    } else if (!parse(&r, error, &at_end)) {
      return false;
    }
    if (at_end)
      return false;
    if (r.kind == Kind::end)
      continue;
    if (r.kind == Kind::repeat)
      return fail(r.offset, "refused: damaged (a repeat record with nothing before it)", error);
    // The repeat records that follow are this one's; the writer repeats
    // records without data only.
    const bool has_data =
        r.size > kCommonSize + fixed_size(static_cast<std::uint8_t>(r.kind), version_);
    while (true) {
      Record after;
      if (!parse(&after, error, &at_end))
        return false;
      if (at_end)
        break;
      if (after.kind != Kind::repeat) {
        next_ = std::move(after);
        have_next_ = true;
        break;
      }
      if (has_data || r.kind == Kind::clock)
        return fail(after.offset, "refused: damaged (a repeat where none can be)", error);
      r.repeats += after.repeats;
      r.size += after.size;
    }
    if (options_.wanted != nullptr && !options_.wanted(r, options_.wanted_argument))
      continue;
    *record = std::move(r);
    return true;
  }
}

bool Reader::skip(std::string *error) {
  const std::size_t cap = options_.cap;
  options_.cap = 0;
  const bool ok = next(&skipped_, error);
  options_.cap = cap;
  return ok;
}

namespace {

bool read_all(Reader &reader, Session *session, std::string *error) {
  Record r;
  while (reader.next(&r, error))
    session->records.push_back(std::move(r));
  if (!error->empty())
    return false;
  session->version = reader.version();
  session->ticks_per_second = reader.ticks_per_second();
  session->limit_reached = reader.limit_reached();
  session->stopped_error = reader.stopped_error();
  session->unfinished = reader.unfinished();
  session->dropped = reader.dropped();
  return true;
}

} // namespace

bool parse_session(const std::vector<std::uint8_t> &bytes, Session *session, std::string *error) {
  *session = Session{};
  Reader reader;
  return reader.open_bytes(&bytes, "session", error) && read_all(reader, session, error);
}

bool read_session(const std::string &path, Session *session, std::string *error) {
  *session = Session{};
  Reader reader;
  return reader.open(path, error) && read_all(reader, session, error);
}

} // namespace dapsession
