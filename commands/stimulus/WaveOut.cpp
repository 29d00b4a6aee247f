// WaveOut(samples): plays one waveform table through outputs a0 and a1 until
// a character arrives on standard input.
#include <unistd.h>

#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"
#include "waveform_table.h"

namespace {

// The board separates the table's entries between output pipes 0 and 1,
// which play on a0 and a1 once all 602 entries are in.
constexpr const char *kOutputDefinition[] = {
    "pdef elstima\r",
    "separate ($binin,opipe(0,1))\r",
    "end\r",
    "odef elstimb 2\r",
    "outputwait 602\r",
    "update burst\r",
    "set op0 a0\r",
    "set op1 a1\r",
    "time 5\r",
    "end\r",
    "START\r",
};

void transfer(const stimulus::WaveformTable &table) {
  dap::ChannelSession session;
  if (!session.open_both())
    return;
  dap::reset_board(session.text(), session.binary());
  for (const char *line : kOutputDefinition)
    DAPSendLine(session.text(), line);

  const int written = DAPWrite(session.binary(), table.bytes, sizeof table.bytes);
  mexPrintf("%d bytes transferred\n", written);

  // The output plays until the operator answers; at end of input the read
  // returns at once and the output stops straight away.
  char answer;
  DAPRead(STDIN_FILENO, &answer, 1);
  DAPSendLine(session.text(), "STOP\r");
}

void command(const dap::mex::Call &call) {
  const double *samples = dap::mex::real_argument(
      call, stimulus::kWaveEntries,
      "usage: WaveOut(samples), samples a real double array of at least 602 elements");
  const stimulus::WaveformTable table = stimulus::make_waveform_table(samples);
  mexPrintf("%d %d\n", table.entry(600), table.entry(601));
  transfer(table);
}

} // namespace

DAP_MEX_GATEWAY(0, command)
