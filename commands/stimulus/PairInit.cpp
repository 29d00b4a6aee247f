// PairInit: loads the two-pulse program "twpls.dap" from the DAPL directory.
#include "dap_link/channel.h"
#include "dap_link/guard.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  dap::send_dapl_file(session.text(), "twpls.dap");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
