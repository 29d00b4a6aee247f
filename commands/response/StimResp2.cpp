// R = StimResp2(thresholds): one stimulus pass with the eight event thresholds
// set on the board first; R is the 300 x 9 event matrix.
#include <cstdint>
#include <cstdio>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"
#include "stim_run.h"

namespace {
constexpr char kUsage[] = "StimResp2 usage: StimResp2([1 x 8 vector of thresholds])";
constexpr char kEventProgram[] = "/home/labrig/matlab/intrfc/dap/stimresp2.dap";
constexpr int kThresholds = 8;
constexpr std::int32_t kWindowTicks = 1100;

bool is_threshold_row(const mxArray *a) {
  return dap::mex::is_real_double(a) && mxGetM(a) == 1 && mxGetN(a) == kThresholds;
}
void command(const dap::mex::Call &call) {
  if (call.nrhs != 1 || !is_threshold_row(call.prhs[0]))
    dap::mex::fail(dap::mex::kUsage, kUsage);
  std::int16_t thresholds[kThresholds];
  for (int k = 0; k < kThresholds; ++k)
    thresholds[k] = dap::to_int16(mxGetPr(call.prhs[0])[k]);

  response::EventMatrix events(call.plhs[0]);
  dap::GuardedSession session;
  if (!session.open_both() || !response::load_programs(session, kEventProgram))
    return;
  // One line per threshold: the board takes each LET as a command of its own.
  for (int k = 0; k < kThresholds; ++k) {
    char line[80];
    std::snprintf(line, sizeof line, "LET THR%d=%d\r", k, thresholds[k]);
    DAPSendLine(session.text(), line);
  }
  if (!dap::wait_ticks(response::kSettleTicks))
    return;
  // Tasks the board never heard of send no events: no window to wait out.
  if (!dap::start_tasks(session.text(), response::kStartTasks))
    return;
  response::write_pulse_table(session);
  if (!response::collect_events(session, events, kWindowTicks))
    return;
  dap::wait_ticks(response::kSettleTicks);
}

} // namespace

DAP_MEX_GATEWAY(1, command)
