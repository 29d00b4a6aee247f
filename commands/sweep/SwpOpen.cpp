// SwpOpen: sends the session program kept in MATLAB's current folder.
#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"

namespace {

void command(const dap::mex::Call &) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  // A bare name: the operator keeps this variant next to the experiment scripts.
  DAPSendFile(session.text(), "shrtrecT.dap");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
