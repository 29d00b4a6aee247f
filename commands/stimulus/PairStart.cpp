// PairStart: starts the two-pulse tasks that PairInit loaded.
#include "dap_link/channel.h"
#include "dap_link/guard.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/ticks.h"

namespace {

void command(const dap::mex::Call &) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  // The board needs a moment after the channels open before it takes a start.
  if (!dap::wait_ticks(10))
    return;
  DAPSendLine(session.text(), "start twplsa,twplsb\r");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
