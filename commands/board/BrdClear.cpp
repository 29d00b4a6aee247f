// BrdClear: reset the board and leave both channels empty.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  dap::reset_board(session.text(), session.binary());
}

} // namespace

DAP_MEX_GATEWAY(0, command)
