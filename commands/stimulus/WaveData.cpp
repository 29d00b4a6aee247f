// WaveData(samples): sends one waveform table to the output WaveInit set up.
#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"
#include "waveform_table.h"

namespace {

void transfer(const stimulus::WaveformTable &table) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  DAPWrite(session.binary(), table.bytes, sizeof table.bytes);
}

} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  const double *samples = dap::mex::real_argument(
      nrhs, prhs, stimulus::kWaveEntries,
      "usage: WaveData(samples), samples a real double array of at least 602 elements");
  transfer(stimulus::make_waveform_table(samples));
}
