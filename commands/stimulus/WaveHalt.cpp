// WaveHalt: stops the output that WaveInit's DAPL file set up.
#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  DAPSendLine(session.text(), "stop\r");
}
