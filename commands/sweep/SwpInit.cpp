// SwpInit: puts the short-record session's DAPL programs onto the board.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void send_dapl_file(int text, const char *name) {
  char path[dap::kPathBufferSize];
  if (dap::dapl_path(path, sizeof path, name))
    DAPSendFile(text, path);
}

} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  // A missing first file must not keep the second from the board.
  send_dapl_file(session.text(), "shrtrec.dap");
  send_dapl_file(session.text(), "opstim.dap");
}
