// [leading, sweep] = SwpRead(mode): collects one sweep of a running session.
//
// The board's tasks write plain runs of samples; record boundaries exist only
// in the counting, so bytes of a record whose window closed early become the
// start of the next record taken.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr int kLeadingRows = 671, kLeadingColumns = 2;
constexpr int kSweepRows = 8, kSweepColumns = 1000;
constexpr std::int32_t kLastTickOfWindow = 1000;

void collect_record(int binary, const dap::mex::Matrix &matrix, int samples) {
  dap::take_samples(binary, matrix.data(), samples, dap::ticks_now(), kLastTickOfWindow);
}

void command(const dap::mex::Call &call) {
  const double *mode = dap::mex::real_argument(call, 1, "usage: SwpRead(mode)");
  const bool with_leading_record = dap::to_int32(mode[0]) == 2;

  // An unrequested sweep is still taken from the stream, so that the next
  // call starts where this one ended, and then let go.
  dap::mex::Matrix leading(kLeadingRows, kLeadingColumns);
  dap::mex::Matrix sweep(kSweepRows, kSweepColumns);
  dap::GuardedSession session(dap::GuardOutput::standard_output);
  if (!session.open_both())
    return;
  // The host gives max(nargout, 1) result slots.
  leading.hand_to(call.plhs[0]);
  if (call.nlhs >= 2)
    sweep.hand_to(call.plhs[1]);

  if (with_leading_record)
    collect_record(session.binary(), leading, kLeadingRows * kLeadingColumns);
  if (!dap::interrupted())
    collect_record(session.binary(), sweep, kSweepRows * kSweepColumns);
}

} // namespace

DAP_MEX_GATEWAY(2, command)
