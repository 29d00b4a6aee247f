// GateInit: loads "recthrsh.dap" from the DAPL directory onto the board.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  dap::send_dapl_file(session.text(), "recthrsh.dap");
}
