// TandemStart: starts the decoder tasks of the tandem program.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPSendLine(session.text(), "start echreadb,echreada\r");
}
