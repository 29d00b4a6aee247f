// SmartRead: cleans the board's pipes, starts the smart tasks and keeps up to
// 1000 smart records of each of nine channels for 610 ticks, one column per
// channel; the first 1001 elements then get the ramp 0..1000.
#include <cstdint>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr int kChannels = 9;
constexpr std::uint32_t kCap = 1000;
constexpr std::size_t kRecordBytes = 12;
constexpr std::size_t kRowsPerRecord = 3;
constexpr std::size_t kRows = kCap * kRowsPerRecord; // 3000
constexpr std::int32_t kLastTick = 609;
constexpr int kRampEnd = 1000;

} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *plhs[], int, const mxArray *[]) {
  plhs[0] = mxCreateDoubleMatrix(kRows, kChannels, mxREAL);
  double *smart = mxGetPr(plhs[0]);
  std::uint32_t kept[kChannels] = {};

  dap::ChannelSession session;
  if (!session.open_both())
    return;
  const int text = session.text();
  const int binary = session.binary();

  // Without a guard the channels stay ours after a Ctrl-C, so what was
  // started is still stopped before the host takes the interrupt.
  DAPSendLine(text, "start cleanhouse\r");
  const bool cleaned = dap::wait_ticks(10);
  DAPSendLine(text, "stop cleanhouse\r");
  if (!cleaned || !dap::wait_ticks(10))
    return;
  DAPFlush(binary);
  DAPFlush(text);

  DAPSendLine(text, "start smarta,smartb\r");
  dap::collect_records(binary, kRecordBytes, dap::ticks_now(), kLastTick,
                       [&](const std::uint8_t *record) {
                         const int channel = dap::le_i16(record);
                         // A channel the matrix has no column for is read and dropped.
                         if (channel < 0 || channel >= kChannels || kept[channel] >= kCap)
                           return;
                         double *out = smart + channel * kRows + kept[channel] * kRowsPerRecord;
                         out[0] = dap::le_u32(record + 2);
                         out[1] = dap::le_u32(record + 6);
                         out[2] = dap::le_i16(record + 10);
                         ++kept[channel];
                       });
  DAPSendLine(text, "stop smartb\r");
  session.close();

  for (int l = 0; l <= kRampEnd; ++l)
    smart[l] = l;
}
