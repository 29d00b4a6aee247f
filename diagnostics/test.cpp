// test('text'): echoes a character argument back, to show that text reaches a
// plug-in intact.
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &call) {
  // Every character of the array, column by column, and the NUL.
  const char *text = dap::mex::text_argument(call, 0, "usage: test('text')");
  mexPrintf("The string you sent me is: %s\n", text);
  mexPrintf("hi\n");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
