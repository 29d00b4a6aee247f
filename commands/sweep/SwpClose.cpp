// SwpClose: stops the session's record tasks.
#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"
#include "dap_link/ticks.h"

namespace {

void command(const dap::mex::Call &) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  // Gives the record tasks a moment to pass on what they still hold.
  dap::wait_ticks(10);
  DAPSendLine(session.text(), "stop recorda,recordb\r");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
