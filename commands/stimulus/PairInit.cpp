// PairInit: loads the two-pulse program "twpls.dap" from the DAPL directory.
#include "dap_link/channel.h"
#include "dap_link/convert.h"
#include "dap_link/guard.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  char path[dap::kPathBufferSize];
  if (dap::dapl_path(path, sizeof path, "twpls.dap"))
    DAPSendFile(session.text(), path);
}
