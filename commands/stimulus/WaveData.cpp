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

void command(const dap::mex::Call &call) {
  const double *samples = dap::mex::real_argument(
      call, stimulus::kWaveEntries,
      "usage: WaveData(samples), samples a real double array of at least 602 elements");
  transfer(stimulus::make_waveform_table(samples));
}

} // namespace

DAP_MEX_GATEWAY(0, command)
