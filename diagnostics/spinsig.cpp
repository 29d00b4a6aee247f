// spinsig: spins until Ctrl-C, which it takes with a handler of its own and
// then hands to whatever handled SIGINT before it; shows which thread and
// which handler a Ctrl-C reaches while a plug-in is busy.
#include <pthread.h>
#include <signal.h>

#include <atomic>

#include "dap_link/mex_gateway.h"

namespace {

// The SIGINT disposition in force before changesig, flags and mask included,
// so that handing the interrupt on gives the host exactly its own handler.
struct sigaction old_handler;

std::atomic<bool> handed_on{false};

void ctrl_c(int) {
  mexPrintf("Ok, bye.\n");
  sigaction(SIGINT, &old_handler, nullptr);
  // Blocked until this handler returns, then taken by the previous handler.
  raise(SIGINT);
  handed_on.store(true);
}

void changesig() {
  struct sigaction action {};
  action.sa_handler = ctrl_c;
  sigemptyset(&action.sa_mask);
  // Kept before ours goes in: a handler running on another thread the moment
  // it is installed must find the previous disposition already there.
  sigaction(SIGINT, nullptr, &old_handler);
  sigaction(SIGINT, &action, nullptr);
}

} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  handed_on.store(false);
  changesig();
  // Octave keeps SIGINT blocked on this thread and collects it on a thread of
  // its own with sigwait, where no handler of ours would ever run. While we
  // spin, a Ctrl-C may interrupt this thread instead; it runs nothing but the
  // loop below, so the handler cannot break into the interpreter.
  sigset_t interrupt;
  sigset_t previous_mask;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_UNBLOCK, &interrupt, &previous_mask);
  // A host that notes a Ctrl-C and acts on it later (Octave) would never
  // leave this loop on its own; once the interrupt is handed on, returning
  // lets it act.
  while (!handed_on.load()) {
  }
  pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
}
