// Replay of what the recorder notes besides the device calls themselves: the
// operator's Ctrl-C, delivered where it reached the command and the way it
// did, and calls the system refused for their buffer.
#include <cerrno>

#include "simulator.h"

namespace dapsim {

using dapsession::Kind;

// An interrupt record sits after the last record of each queue that came
// before it (the recorder closes the clock run it came in), so it is due
// once no queue has a record left that starts before it in the file. A
// loader run's record is taken as the run starts, so a Ctrl-C noted after
// it waits until the run is over.
void Replay::interrupts_due() {
  Replay &r = *this;
  if (r.interrupts.done && r.interrupts.ahead.empty())
    return;
  if (r.in_loader)
    return;
  Queue *queues[] = {&r.channel[0], &r.channel[1], &r.clock, &r.dapl, &r.loader};
  while (const dapsession::Record *due = peek(r.interrupts, 0)) {
    for (Queue *q : queues) {
      const dapsession::Record *pending = peek(*q, 0);
      if (pending != nullptr && pending->offset < due->offset)
        return;
    }
    // Held: sent to this thread, which blocks SIGINT while the loader ran.
    const Delivery delivery =
        due->result == static_cast<int>(dapsession::Interrupt::handler) ? Delivery::handler
        : due->result == static_cast<int>(dapsession::Interrupt::held)  ? Delivery::within
                                                                        : Delivery::host;
    pop(r.interrupts);
    out_.schedule_sigint(delivery);
  }
}

void Replay::bad_buffer(int node, Kind kind) {
  Replay &r = *this;
  const std::string what = kind == Kind::write ? "write" : "read";
  ++r.operations[node];
  if (kind == Kind::write)
    ++r.writes[node];
  const dapsession::Record *c = expect(node, kind, 0, what + " of a bad buffer");
  if (c != nullptr && !(c->result < 0 && c->error == EFAULT))
    difference(std::string(node_name(node)) + " " + what +
               ": the host's buffer is refused (EFAULT), the recorded call was not");
}

} // namespace dapsim
