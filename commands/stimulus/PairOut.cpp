// PairOut(values): resets the board, loads "twpls.dap" from the current
// folder and sends the waveform table ten times, once a second, or until
// Ctrl-C; then stops the board's output.
#include <atomic>
#include <csignal>

#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"
#include "dap_link/sigint.h"
#include "dap_link/ticks.h"
#include "waveform_table.h"

namespace {

constexpr int kPasses = 10;
constexpr std::int32_t kPassTicks = 100;

// Set by loopstop, read by the output loop. The host runs SIGINT handlers on
// another thread, so the flag must be safe across threads as well as in a
// handler: a lock-free atomic is both.
std::atomic<std::sig_atomic_t> stop_looping{0};
static_assert(std::atomic<std::sig_atomic_t>::is_always_lock_free,
              "stop_looping must be settable from a signal handler");

// Ctrl-C ends the loop after the current wait instead of abandoning the call,
// so the board is always told to stop. The interrupt is not passed on.
void loopstop(int) { stop_looping.store(1); }

// Ctrl-C by any delivery: our handler, or the host's own flag or query.
bool stopped() { return stop_looping.load() != 0 || dap::interrupted(); }

void command(const dap::mex::Call &call) {
  const double *values = dap::mex::real_argument(
      call, stimulus::kWaveEntries,
      "usage: PairOut(values), values a real double array of at least 602 elements");
  const stimulus::WaveformTable table = stimulus::make_waveform_table(values);

  stop_looping.store(0);
  dap::SigintHandler sigint(loopstop);
  // Ctrl-C ends the output loop, not the call: the board is still told to stop.
  dap::ChannelSession session(dap::OnInterrupt::finish_call);
  if (!session.open_both())
    return;

  // A Ctrl-C before the stimulus has started keeps it from starting at all:
  // the board is not even reset, and no stop line is needed.
  if (stopped())
    return;
  dap::reset_board(session.text(), session.binary());
  if (stopped())
    return;
  // Deliberately a bare name: the experiment folder holds its own program.
  bool refused = false;
  dap::send_file(session.text(), "twpls.dap", &refused);
  // A board that got none of its program starts nothing of ours, yet may
  // still run an earlier one that would play our table as a stimulus nobody
  // started: nothing more is sent.
  if (refused)
    return;

  for (int pass = 0; pass < kPasses && !stopped(); ++pass) {
    DAPWrite(session.binary(), table.bytes, sizeof table.bytes);
    // Not dap::wait_ticks: a host that takes Ctrl-C itself (Octave raises its
    // own flag and never runs loopstop) would end every remaining wait at
    // once and pour the rest of the tables onto the board. The pass runs to
    // its end either way; the interrupt only decides that it is the last.
    const std::uint32_t pass_start = dap::ticks_now();
    while (dap::ticks_since(pass_start) <= kPassTicks - 1) {
    }
  }

  sigint.restore();
  DAPSendLine(session.text(), "stop\r");
}

} // namespace

DAP_MEX_GATEWAY(0, command)
