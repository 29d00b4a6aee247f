// SwpStart(mode): starts the recording tasks of a short-record session.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &call) {
  const double *mode = dap::mex::real_argument(call, 1, "usage: SwpStart(mode)");
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

} // namespace

DAP_MEX_GATEWAY(0, command)
