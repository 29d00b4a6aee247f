// SpikerInit: loads "spiker.dap" from the DAPL directory onto the board.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  dap::send_dapl_file(session.text(), "spiker.dap");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
