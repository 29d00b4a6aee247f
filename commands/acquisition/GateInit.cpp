// GateInit: loads "recthrsh.dap" from the DAPL directory onto the board.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  char path[dap::kPathBufferSize];
  dap::dapl_path(path, sizeof path, "recthrsh.dap");

  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPSendFile(session.text(), path);
}
