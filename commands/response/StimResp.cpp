// R = StimResp: one stimulus-response run of three stimulus passes; R is the
// 300 x 9 event matrix.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"
#include "stim_run.h"

namespace {
constexpr char kBoardLoader[] =
    "/usr/src/linux/drivers/dap/comload /dosc/labrig/dap/getspike.bin -s1000";
constexpr char kEventProgram[] = "/home/labrig/matlab/intrfc/dap/stimresp.dap";
constexpr int kPasses = 3;
constexpr std::int32_t kWindowTicks = 2000;
void command(const dap::mex::Call &call) {
  response::EventMatrix events(call.plhs[0]);
  dap::GuardedSession session;
  // The loader's outcome is not ours to judge: a board it failed to load
  // simply sends no events. A Ctrl-C that ended it ends the call.
  static_cast<void>(session.run_program(kBoardLoader));
  if (!session.open_both() || !response::load_programs(session, kEventProgram))
    return;
  // Tasks the board never heard of send no events: no windows to wait out.
  if (!dap::start_tasks(session.text(), response::kStartTasks))
    return;
  for (int pass = 0; pass < kPasses; ++pass) {
    response::write_pulse_table(session);
    if (!response::collect_events(session, events, kWindowTicks))
      return;
  }
  dap::wait_ticks(response::kSettleTicks);
}

} // namespace

DAP_MEX_GATEWAY(1, command)
