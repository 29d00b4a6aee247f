#include <dlfcn.h>

#include <csignal>

#include "dap_link/ticks.h"

namespace dap::detail {
namespace {

// Some hosts (Octave among them) collect SIGINT on a thread of their own and
// only raise a flag, so a SIGINT handler of ours never runs there. The flags
// are looked up at run time; a host without them simply has none.
struct HostInterruptFlags {
  volatile sig_atomic_t *state = nullptr;
  volatile sig_atomic_t *caught = nullptr;
  HostInterruptFlags()
      : state(static_cast<volatile sig_atomic_t *>(dlsym(RTLD_DEFAULT, "octave_interrupt_state"))),
        caught(static_cast<volatile sig_atomic_t *>(dlsym(RTLD_DEFAULT, "octave_signal_caught"))) {}
  bool pending() const {
    return (state != nullptr && *state > 0) || (caught != nullptr && *caught != 0);
  }
};

} // namespace

bool host_interrupt_pending() {
  static const HostInterruptFlags flags;
  return flags.pending();
}

} // namespace dap::detail
