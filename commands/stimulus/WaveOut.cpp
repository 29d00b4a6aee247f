// WaveOut(samples): plays one waveform table through outputs a0 and a1 until
// a character arrives on standard input.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"
#include "dap_link/ticks.h"
#include "waveform_table.h"

namespace {

// How often the wait for the operator's answer looks for a Ctrl-C.
constexpr int kAnswerPollMs = 10;

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

// Waits for the operator's character on standard input, or a Ctrl-C; takes
// exactly one character when there is one. At end of input, or with no
// usable standard input, the read returns at once.
void await_answer() {
  struct pollfd input = {STDIN_FILENO, POLLIN, 0};
  while (!dap::interrupted()) {
    const int ready = poll(&input, 1, kAnswerPollMs);
    if (ready < 0 && errno != EINTR)
      break;
    if (ready > 0) {
      char answer;
      DAPRead(STDIN_FILENO, &answer, 1);
      return;
    }
  }
}

void transfer(const stimulus::WaveformTable &table) {
  // Ctrl-C ends the wait for an answer, not the output alone: the board is
  // still told to stop.
  dap::ChannelSession session(dap::OnInterrupt::finish_call);
  if (!session.open_both())
    return;
  // A Ctrl-C before the output definition has begun keeps the output from
  // starting at all: the board is not even reset, and no STOP is needed.
  if (dap::interrupted())
    return;
  dap::reset_board(session.text(), session.binary());
  if (dap::interrupted())
    return;
  // Once it has begun, a Ctrl-C ends the definition where it is, and no
  // table follows: only STOP. A line the board got none of leaves the output
  // undefined or unstarted, while an earlier program may still run there and
  // would play our table as a stimulus nobody started: nothing more is sent.
  for (const char *line : kOutputDefinition) {
    if (dap::interrupted())
      break;
    if (DAPSendLine(session.text(), line) <= 0 && !dap::interrupted())
      return;
  }
  if (!dap::interrupted()) {
    const int written = DAPWrite(session.binary(), table.bytes, sizeof table.bytes);
    mexPrintf("%d bytes transferred\n", written);
  }

  // The output plays until the operator answers; at end of input the read
  // returns at once and the output stops straight away.
  await_answer();
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
