// SwpStart(mode): starts the recording tasks of a short-record session.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  const double *mode = dap::mex::real_argument(nrhs, prhs, 1, "SwpStart usage: SwpStart(mode)");
  const bool with_leading_record = dap::to_int32(mode[0]) == 2;

  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPSendLine(session.text(), "start shrtreca\r");
  if (with_leading_record) {
    DAPSendLine(session.text(), "start shrtrecb\r");
  } else {
    DAPSendLine(session.text(), "start shrtrecc\r");
    // shrtrecc records one sweep per trigger it finds in the pipe.
    DAPSendLine(session.text(), "fill trigpipe 2\r");
  }
}
