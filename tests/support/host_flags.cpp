#include "host_flags.h"

#define HOST_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" {
__attribute__((visibility("default"))) volatile sig_atomic_t octave_interrupt_state = 0;
__attribute__((visibility("default"))) volatile sig_atomic_t octave_signal_caught = 0;
}

namespace {
volatile sig_atomic_t g_query = 0;
} // namespace

HOST_EXPORT bool utIsInterruptPending() { return g_query != 0; }

namespace hostflags {
void set_octave(int interrupt_state, int signal_caught) {
  octave_interrupt_state = interrupt_state;
  octave_signal_caught = signal_caught;
}
void set_query(bool pending) { g_query = pending ? 1 : 0; }
void clear() {
  set_octave(0, 0);
  set_query(false);
}
} // namespace hostflags
