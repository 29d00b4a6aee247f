// WaveHalt: stops the output that WaveInit's DAPL file set up.
#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"

namespace {

void command(const dap::mex::Call &) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  DAPSendLine(session.text(), "stop\r");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
