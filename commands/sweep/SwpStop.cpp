// SwpStop(mode): stops the recording tasks that SwpStart(mode) started.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &call) {
  const double *mode = dap::mex::real_argument(call, 1, "usage: SwpStop(mode)");
  const bool with_leading_record = dap::to_int32(mode[0]) == 2;

  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPSendLine(session.text(), "stop shrtreca\r");
  DAPSendLine(session.text(), with_leading_record ? "stop shrtrecb\r" : "stop shrtrecc\r");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
