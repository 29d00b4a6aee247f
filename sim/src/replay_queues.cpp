// Reading a recorded session for its replay: the file is checked whole
// first, then each channel, the clock runs, the DAPL opens and the loader
// runs are read as queues of their own, each at its own place in the file,
// as the replay goes.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "real.h"
#include "simulator.h"
#include "text.h"

namespace dapsim {

using dapsession::Kind;
using dapsession::Record;

std::unique_ptr<Replay> Replay::start(const std::string &path, bool strict, Surroundings &out,
                                      std::string *reply) {
  std::unique_ptr<Replay> replay(new Replay(out));
  Replay &r = *replay;
  // Out of the host's way, so that its own descriptors are numbered as
  // without the replay.
  const int fd = real::open()(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    *reply = "replay: cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  r.fd = fcntl(fd, F_DUPFD_CLOEXEC, kFdSlots);
  if (r.fd < 0)
    r.fd = fd;
  else
    real::close()(fd);
  Queue *queues[kQueues] = {&r.channel[0], &r.channel[1], &r.clock,
                            &r.dapl,       &r.loader,     &r.interrupts};
  for (int k = 0; k < kQueues; ++k)
    queues[k]->which = k;
  // The whole file is checked before a call is served: a damaged one is
  // refused, never played in part.
  std::uint64_t records = 0;
  // An unfinished file is played as far as it was checked, whatever is
  // written to it since.
  std::uint64_t end = UINT64_MAX;
  {
    dapsession::Reader check(dapsession::ReadOptions::check_only());
    std::string error;
    Record rec;
    if (check.open_fd(r.fd, path, &error))
      while (check.next(&rec, &error)) {
        ++records;
        const int k = queue_of(rec);
        if (k < 0)
          continue;
        ++queues[k]->total;
        queues[k]->calls += rec.repeats;
        if (k != kClockQueue && k != kInterruptQueue)
          r.recorded += rec.repeats;
      }
    if (!error.empty()) {
      *reply = "replay: " + error;
      return nullptr;
    }
    r.limit_reached = check.limit_reached();
    r.stopped_error = check.stopped_error();
    r.unfinished = check.unfinished();
    end = check.unfinished() ? check.whole_end() : UINT64_MAX;
  }
  for (Queue *q : queues) {
    // Most sessions hold no Ctrl-C: their queue then reads nothing.
    q->done = q->total == 0;
    dapsession::ReadOptions options = dapsession::ReadOptions::some_records(
        [](const Record &rec, int which) { return queue_of(rec) == which; }, q->which, &r.blocks);
    options.end = end;
    q->reader = std::make_unique<dapsession::Reader>(options);
    std::string error;
    if (!q->reader->open_fd(r.fd, path, &error)) {
      *reply = "replay: " + error;
      return nullptr;
    }
  }
  r.path = path;
  r.strict = strict;
  *reply = std::to_string(records) + " records" + (r.unfinished ? ", unfinished" : "");
  return replay;
}

void Replay::announce() {
  out_.trace("replay " + path + (strict ? " strict" : " lenient"));
  if (limit_reached)
    out_.trace("replay note: the recording stopped at its size limit");
  if (stopped_error != 0)
    out_.trace(std::string("replay note: recording stopped: ") + std::strerror(stopped_error));
  if (unfinished)
    out_.trace("replay note: the recording is unfinished (it ends without its end record)");
}

bool Replay::after_the_end() {
  if (!unfinished)
    return false;
  if (!over) {
    for (Queue *q : {&channel[0], &channel[1], &dapl, &loader})
      if (peek(*q, 0) != nullptr)
        return false;
    over = true;
    out_.trace("replay: the recording ends here (unfinished): calls after it fail with EIO");
  }
  ++after_end;
  return true;
}

const Record *Replay::peek(Queue &q, std::size_t k) {
  while (q.ahead.size() <= k && !q.done) {
    Record rec;
    std::string error;
    if (!q.reader->next(&rec, &error)) {
      q.done = true;
      if (!error.empty())
        difference("the session file changed while it played: " + error);
      break;
    }
    if (queue_of(rec) == q.which)
      q.ahead.push_back(std::move(rec));
  }
  return k < q.ahead.size() ? &q.ahead[k] : nullptr;
}

void Replay::pop(Queue &q) {
  q.passed += q.ahead.front().repeats;
  q.taken = std::move(q.ahead.front());
  q.ahead.pop_front();
  q.used = 0;
  ++q.next;
}

} // namespace dapsim
