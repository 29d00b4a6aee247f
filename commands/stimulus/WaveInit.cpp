// WaveInit: resets the board and loads the output definition of the split
// playback from "test4.dap" in the current folder.
#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"

namespace {

void command(const dap::mex::Call &) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  dap::reset_board(session.text(), session.binary());
  // Deliberately a bare name: each experiment folder keeps its own output
  // definition next to its scripts.
  DAPSendFile(session.text(), "test4.dap");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
