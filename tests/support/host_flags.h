// The interrupt flags a MEX host offers its plug-ins, served by the test
// binary itself: Octave's two flags, and the interrupt query of a host that
// reports Ctrl-C by query rather than by signal.
#pragma once

#include <csignal>

namespace hostflags {
// Octave's: a Ctrl-C raises both, any other signal (a child's end) only `caught`.
void set_octave(int interrupt_state, int signal_caught);
// The interrupt query's answer.
void set_query(bool pending);
// Everything back to "nothing pending".
void clear();
} // namespace hostflags
