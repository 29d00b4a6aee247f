// spinexit: registers an unload hook and spins; shows whether the host runs
// unload hooks when the plug-in is cleared or the host exits.
#include <cstdlib>

#include "dap_link/mex_gateway.h"

namespace {

void ctrl_c() {
  mexPrintf("Ok, bye.\n");
  std::exit(0);
}

} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  mexAtExit(ctrl_c);
  // Octave only notes a Ctrl-C and acts on it when it next evaluates
  // something; an empty evaluation each turn lets a Ctrl-C end the spin, so
  // that the plug-in can be cleared afterwards.
  for (;;)
    mexEvalString("");
}
