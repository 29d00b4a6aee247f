#include <dlfcn.h>

#include <csignal>

#include "dap_link/ticks.h"

namespace dap::detail {
namespace {

// How a host tells a plug-in that the operator pressed Ctrl-C, when the
// plug-in's own SIGINT handler may never run:
// - Octave takes SIGINT on a thread of its own and raises
//   `octave_interrupt_state`. Its other flag, `octave_signal_caught`, rises
//   for every signal it catches, a child process ending among them, so it
//   says nothing about Ctrl-C and is not looked at.
// - A desktop host that takes Ctrl-C itself answers the query
//   `utIsInterruptPending` from its runtime library.
// Both are looked up at run time; a host without them simply has none.
struct HostInterruptFlags {
  volatile sig_atomic_t *state = nullptr;
  bool (*query)() = nullptr;
  HostInterruptFlags()
      : state(static_cast<volatile sig_atomic_t *>(dlsym(RTLD_DEFAULT, "octave_interrupt_state"))),
        query(reinterpret_cast<bool (*)()>(dlsym(RTLD_DEFAULT, "utIsInterruptPending"))) {}
  bool pending() const { return (state != nullptr && *state > 0) || (query != nullptr && query()); }
};

} // namespace

bool host_interrupt_pending() {
  static const HostInterruptFlags flags;
  return flags.pending();
}

} // namespace dap::detail
