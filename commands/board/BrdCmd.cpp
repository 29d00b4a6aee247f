// BrdCmd('line'): send one DAPL command line to the board.
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 1)
    mexErrMsgTxt("usage: BrdCmd('DAPL command line')");
  // Room for every character, the carriage return that ends a DAPL line and
  // the NUL. A character matrix arrives column by column.
  const std::size_t length = dap::mex::element_count(prhs[0]);
  char *line = static_cast<char *>(mxCalloc(length + 2, 1));
  if (mxGetString(prhs[0], line, static_cast<mwSize>(length + 1)) != 0)
    mexErrMsgTxt("Could not convert string data.");
  std::strcat(line, "\r");

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendLine(session.text(), line);
}
