// SwpStop(mode): stops the recording tasks that SwpStart(mode) started.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  const double *mode = dap::mex::real_argument(nrhs, prhs, 1, "SwpStop usage: SwpStop(mode)");
  const bool with_leading_record = dap::to_int32(mode[0]) == 2;

  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPSendLine(session.text(), "stop shrtreca\r");
  DAPSendLine(session.text(), with_leading_record ? "stop shrtrecb\r" : "stop shrtrecc\r");
}
