#include <dlfcn.h>

#include <atomic>
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
};

const HostInterruptFlags &flags() {
  static const HostInterruptFlags host;
  return host;
}

// What the host held when the current call began. Octave counts the Ctrl-Cs
// it has not yet acted on (and sets the count below zero while it acts on
// one), so a new one shows as a higher count even when an earlier one is
// still pending; the query only says yes or no, so a yes that was already
// there when the call began cannot be told from a new one.
std::atomic<int> g_state_at_mark{0};
std::atomic<bool> g_query_at_mark{false};

} // namespace

void mark_host_interrupts() {
  const HostInterruptFlags &host = flags();
  const int state = host.state != nullptr ? static_cast<int>(*host.state) : 0;
  g_state_at_mark.store(state > 0 ? state : 0);
  g_query_at_mark.store(host.query != nullptr && host.query());
}

bool host_interrupt_since_mark() {
  const HostInterruptFlags &host = flags();
  if (host.state != nullptr && *host.state > g_state_at_mark.load())
    return true;
  return !g_query_at_mark.load() && host.query != nullptr && host.query();
}

bool host_takes_sigint_itself() { return flags().state != nullptr; }

} // namespace dap::detail
