// Replay of what the recorder notes besides the device calls themselves: the
// operator's Ctrl-C, delivered where it reached the command and the way it
// did, and calls the system refused for their buffer.
#include <cerrno>

#include "simulator.h"

namespace dapsim {

using dapsession::Kind;

// An interrupt record sits after the last record of each queue that came
// before it (the recorder closes the clock run it came in), so it is due
// once every queue has played that far.
void Simulator::replay_note_interrupts() {
  Replay &r = *replay_;
  std::size_t seen[5] = {0, 0, 0, 0, 0};
  for (const dapsession::Record &c : r.session.records) {
    if (c.kind == Kind::interrupt) {
      Replay::Interrupt due;
      std::copy(seen, seen + 5, due.before);
      due.delivery = c.result == static_cast<int>(dapsession::Interrupt::handler)
                         ? Delivery::handler
                         : Delivery::host;
      r.interrupts.push_back(due);
    } else if (c.kind == Kind::clock) {
      ++seen[2];
    } else if (c.kind == Kind::dapl) {
      ++seen[3];
    } else if (c.kind == Kind::loader) {
      ++seen[4];
    } else if (c.node == kTextNode || c.node == kBinaryNode) {
      ++seen[c.node];
    }
  }
}

void Simulator::replay_interrupts_due() {
  Replay &r = *replay_;
  if (r.in_loader)
    return; // at the run's end, not before the loader starts
  const Replay::Queue *queues[5] = {&r.channel[0], &r.channel[1], &r.clock, &r.dapl, &r.loader};
  while (r.next_interrupt < r.interrupts.size()) {
    const Replay::Interrupt &due = r.interrupts[r.next_interrupt];
    for (int k = 0; k < 5; ++k)
      if (queues[k]->next < due.before[k])
        return;
    ++r.next_interrupt;
    schedule_sigint(due.delivery);
  }
}

void Simulator::replay_refused(int node, Kind kind) {
  if (!replay_)
    return;
  Replay &r = *replay_;
  const std::string what = kind == Kind::write ? "write" : "read";
  ++r.operations[node];
  if (kind == Kind::write)
    ++r.writes[node];
  const dapsession::Record *c = replay_expect(node, kind, 0, what + " of a bad buffer");
  if (c != nullptr && !(c->result < 0 && c->error == EFAULT))
    replay_difference(std::string(node_name(node)) + " " + what +
                      ": the host's buffer is refused (EFAULT), the recorded call was not");
}

} // namespace dapsim
