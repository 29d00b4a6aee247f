// SwpInit: puts the short-record session's DAPL programs onto the board.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  // A missing first file must not keep the second from the board.
  dap::send_dapl_file(session.text(), "shrtrec.dap");
  dap::send_dapl_file(session.text(), "opstim.dap");
}
