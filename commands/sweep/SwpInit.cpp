// SwpInit: puts the short-record session's DAPL programs onto the board.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  // A missing first file must not keep the second from the board.
  dap::send_dapl_file(session.text(), "shrtrec.dap");
  dap::send_dapl_file(session.text(), "opstim.dap");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
