// BrdCmd('line'): send one DAPL command line to the board.
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  // Room for the carriage return that ends a DAPL line.
  char *line = dap::mex::text_argument(nrhs, prhs, 1, "usage: BrdCmd('DAPL command line')");
  std::strcat(line, "\r");

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendLine(session.text(), line);
}
