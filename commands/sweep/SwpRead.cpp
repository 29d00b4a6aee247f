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

void collect_record(int binary, mxArray *matrix, int samples) {
  dap::take_samples(binary, mxGetPr(matrix), samples, dap::ticks_now(), kLastTickOfWindow);
}

} // namespace

DAP_MEX_ENTRY void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  const double *mode = dap::mex::real_argument(nrhs, prhs, 1, "SwpRead usage: SwpRead(mode)");
  const bool with_leading_record = dap::to_int32(mode[0]) == 2;

  dap::GuardedSession session(dap::GuardOutput::standard_output);
  if (!session.open_both())
    return;

  mxArray *leading = mxCreateDoubleMatrix(kLeadingRows, kLeadingColumns, mxREAL);
  mxArray *sweep = mxCreateDoubleMatrix(kSweepRows, kSweepColumns, mxREAL);
  plhs[0] = leading;
  // MATLAB gives only max(nargout, 1) result slots. An unrequested sweep is
  // still taken from the stream, so that the next call starts where this one
  // ended, and then let go.
  if (nlhs >= 2)
    plhs[1] = sweep;

  if (with_leading_record)
    collect_record(session.binary(), leading, kLeadingRows * kLeadingColumns);
  if (!dap::interrupted())
    collect_record(session.binary(), sweep, kSweepRows * kSweepColumns);

  if (nlhs < 2)
    mxDestroyArray(sweep);
}
