// The operator's Ctrl-C is part of the session: where it reached the command
// (a SIGINT handler ran, Octave's interrupt count rose, the host's interrupt
// query turned true) is noted between the calls it came between, looked for
// as each call starts and as it ends. To see a handler run, the SIGINT
// handler the host installs is called through one of ours; sigaction() and
// signal() tell the host only what it installed.
#include <dlfcn.h>
#include <signal.h>

#include <atomic>

#include "recorder.h"

namespace daprec {
namespace {

// The host's own SIGINT disposition, as it installed it; the kernel has ours
// in its place while it is a handler. Two slots, so that the handler reads a
// whole one while sigaction() (perhaps from a handler) fills the other.
struct sigaction g_host_action[2];
std::atomic<int> g_host_slot{0};
// Runs of the host's handler so far, and how many are under way.
std::atomic<std::uint64_t> g_handler_runs{0};
std::atomic<int> g_handlers_running{0};
// The host's interrupt flags, looked up when the library loads.
volatile sig_atomic_t *g_octave_state = nullptr;
bool (*g_interrupt_query)() = nullptr;
// What the last look saw.
std::atomic<std::uint64_t> g_seen_runs{0};
std::atomic<int> g_seen_state{0};
std::atomic<bool> g_seen_query{false};
// A Ctrl-C noted from inside the handler it ran: what it sets off once the
// handler is done (the host's own handler, to which ours hands it on, and
// the host's flags) is that same Ctrl-C.
std::atomic<bool> g_absorb{false};
// A Ctrl-C noted as held while the loader ran: the first sign of one that
// comes next (the host taking it) is that same Ctrl-C.
std::atomic<bool> g_absorb_held{false};

bool is_handler(const struct sigaction &a) {
  return (a.sa_flags & SA_SIGINFO) != 0 || (a.sa_handler != SIG_DFL && a.sa_handler != SIG_IGN);
}

void set_host_action(const struct sigaction &action) {
  const int next = 1 - g_host_slot.load();
  g_host_action[next] = action;
  g_host_slot.store(next);
}

void call_host_handler(int signal_number, siginfo_t *info, void *context) {
  const struct sigaction host = g_host_action[g_host_slot.load()];
  if (host.sa_flags & SA_RESETHAND) {
    struct sigaction reset {};
    reset.sa_handler = SIG_DFL;
    set_host_action(reset); // as the kernel has just done with ours
  }
  g_handler_runs.fetch_add(1);
  g_handlers_running.fetch_add(1);
  if (host.sa_flags & SA_SIGINFO) {
    host.sa_sigaction(signal_number, info, context);
  } else if (host.sa_handler == SIG_DFL) {
    // Another thread put the default back as this one came in.
    next_sigaction()(SIGINT, &host, nullptr);
    raise(SIGINT);
  } else if (host.sa_handler != SIG_IGN) {
    host.sa_handler(signal_number);
  }
  g_handlers_running.fetch_sub(1);
}

int current_octave_state() { return g_octave_state != nullptr ? *g_octave_state : 0; }
bool current_query() { return g_interrupt_query != nullptr && g_interrupt_query(); }

} // namespace

void find_host_interrupt_flags() {
  g_octave_state =
      static_cast<volatile sig_atomic_t *>(dlsym(RTLD_DEFAULT, "octave_interrupt_state"));
  g_interrupt_query = reinterpret_cast<bool (*)()>(dlsym(RTLD_DEFAULT, "utIsInterruptPending"));
  g_seen_state.store(current_octave_state());
  g_seen_query.store(current_query());
}

bool interrupt_signs_changed() {
  if (g_handler_runs.load() != g_seen_runs.load() || g_absorb.load())
    return true;
  // Octave's count falls again once it has acted on a Ctrl-C: taken in
  // too, so that the next one shows as a rise.
  return current_octave_state() != g_seen_state.load() || current_query() != g_seen_query.load();
}

bool new_interrupt(bool recording, dapsession::Interrupt *means) {
  const std::uint64_t runs = g_handler_runs.load();
  const int state = current_octave_state();
  const bool query = current_query();
  const bool by_handler = runs != g_seen_runs.load();
  const bool by_octave = state > 0 && state > g_seen_state.load();
  const bool by_query = query && !g_seen_query.load();
  g_seen_runs.store(runs);
  g_seen_state.store(state);
  g_seen_query.store(query);
  const bool inside = g_handlers_running.load() > 0;
  if (g_absorb.load()) {
    if (!inside)
      g_absorb.store(false);
    return false;
  }
  if (!(by_handler || by_octave || by_query))
    return false;
  if (g_absorb_held.exchange(false) || !recording)
    return false;
  using dapsession::Interrupt;
  *means = by_handler ? Interrupt::handler : by_octave ? Interrupt::octave : Interrupt::query;
  if (by_handler && inside)
    g_absorb.store(true);
  return true;
}

void absorb_held_interrupt() { g_absorb_held.store(true); }

int wrapped_sigaction(const struct sigaction *action, struct sigaction *old_action) {
  const struct sigaction before = g_host_action[g_host_slot.load()];
  struct sigaction kernel_old {};
  int rc;
  if (action != nullptr && is_handler(*action)) {
    struct sigaction ours = *action;
    ours.sa_flags |= SA_SIGINFO;
    ours.sa_sigaction = call_host_handler;
    set_host_action(*action); // before ours can run with it
    rc = next_sigaction()(SIGINT, &ours, &kernel_old);
    if (rc != 0)
      set_host_action(before);
  } else {
    rc = next_sigaction()(SIGINT, action, &kernel_old);
    if (rc == 0 && action != nullptr)
      set_host_action(*action);
  }
  const bool ours_before =
      (kernel_old.sa_flags & SA_SIGINFO) != 0 && kernel_old.sa_sigaction == call_host_handler;
  if (rc == 0 && old_action != nullptr)
    *old_action = ours_before ? before : kernel_old;
  return rc;
}

} // namespace daprec
