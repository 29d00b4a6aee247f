// TandemStart: starts the decoder tasks of the tandem program.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPSendLine(session.text(), "start echreadb,echreada\r");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
