// PairInit: loads the two-pulse program "twpls.dap" from the DAPL directory.
#include "dap_link/channel.h"
#include "dap_link/guard.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  dap::send_dapl_file(session.text(), "twpls.dap");
}
