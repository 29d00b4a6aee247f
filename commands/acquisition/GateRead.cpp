// GateRead: takes the word stream the gate tasks queue on the binary channel,
// for up to 1000 ticks or 6000 bytes, three words to a column.
#include <cstdint>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr int kRows = 3;
constexpr int kColumns = 1000;
constexpr int kMaxBytes = 2 * kRows * kColumns;
constexpr std::int32_t kWindow = 1000;
constexpr int kPollBytes = 2048;

} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *plhs[], int, const mxArray *[]) {
  dap::GuardedSession session(dap::GuardOutput::standard_output);
  if (!session.open_both())
    return;

  plhs[0] = mxCreateDoubleMatrix(kRows, kColumns, mxREAL);
  double *gate = mxGetPr(plhs[0]);

  // Words are put together by their place in the stream, so a poll that ends
  // in the middle of a word does not shift every later word by a byte.
  std::uint8_t word[2] = {0, 0};
  std::uint8_t staging[kPollBytes];
  dap::take_stream(session.binary(), staging, kPollBytes, kMaxBytes, dap::ticks_now(), kWindow,
                   [&](const std::uint8_t *bytes, int count, int offset) {
                     for (int k = 0; k < count; ++k) {
                       const int position = offset + k;
                       word[position % 2] = bytes[k];
                       if (position % 2 == 1)
                         gate[position / 2] = dap::le_i16(word);
                     }
                   });
}
