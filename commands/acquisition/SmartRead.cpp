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

void command(const dap::mex::Call &call) {
  dap::mex::Matrix result(kRows, kChannels);
  double *smart = result.data();
  // Handed over before the opens: a call that cannot open returns zeros.
  result.hand_to(call.plhs[0]);
  std::uint32_t kept[kChannels] = {};

  dap::ChannelSession session;
  if (!session.open_both())
    return;
  const int text = session.text();
  const int binary = session.binary();

  // After a Ctrl-C nothing more is sent, as in the guarded commands: the
  // operator stopped the call, and the host acts on the interrupt next.
  DAPSendLine(text, "start cleanhouse\r");
  if (!dap::wait_ticks(10))
    return;
  DAPSendLine(text, "stop cleanhouse\r");
  if (!dap::wait_ticks(10))
    return;
  DAPFlush(binary);
  DAPFlush(text);

  // Tasks the board never heard of send nothing: no window to wait out.
  if (dap::start_tasks(text, "start smarta,smartb\r")) {
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
  }
  session.close();

  for (int l = 0; l <= kRampEnd; ++l)
    smart[l] = l;
}

} // namespace

DAP_MEX_GATEWAY(1, command)
