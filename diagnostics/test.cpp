// test('text'): echoes a character argument back, to show that text reaches a
// plug-in intact.
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 1)
    mexErrMsgTxt("usage: test('text')");
  // Every character of the array, column by column, and the NUL.
  const std::size_t length = dap::mex::element_count(prhs[0]);
  char *text = static_cast<char *>(mxCalloc(length + 1, 1));
  if (mxGetString(prhs[0], text, static_cast<mwSize>(length + 1)) != 0)
    mexErrMsgTxt("Could not convert string data.");
  mexPrintf("The string you sent me is: %s\n", text);
  mexPrintf("hi\n");
}
