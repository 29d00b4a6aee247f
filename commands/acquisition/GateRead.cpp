// GateRead: takes the word stream the gate tasks queue on the binary channel,
// for up to 1000 ticks or 6000 bytes, three words to a column. Nothing is
// flushed first: words queued before the call are part of its stream.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr int kRows = 3;
constexpr int kColumns = 1000;
constexpr std::int32_t kLastTickOfWindow = 1000;

void command(const dap::mex::Call &call) {
  dap::mex::Matrix words(kRows, kColumns);
  dap::GuardedSession session(dap::GuardOutput::standard_output);
  if (!session.open_both())
    return;
  words.hand_to(call.plhs[0]);
  // Words are put together by their place in the stream, so a poll that ends
  // in the middle of a word does not shift every later word by a byte.
  dap::take_samples(session.binary(), words.data(), kRows * kColumns, dap::ticks_now(),
                    kLastTickOfWindow);
}

} // namespace

DAP_MEX_GATEWAY(1, command)
