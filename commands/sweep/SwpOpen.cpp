// SwpOpen: sends the session program kept in MATLAB's current folder.
#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  // A bare name: the operator keeps this variant next to the experiment scripts.
  DAPSendFile(session.text(), "shrtrecT.dap");
}
