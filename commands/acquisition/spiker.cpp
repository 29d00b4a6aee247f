// spiker: cleans the board's pipes, starts the spike tasks and keeps up to
// 100 spike records of each of eight channels for 1100 ticks, in arrival order.
#include <cstdint>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr int kChannels = 8;
constexpr std::uint32_t kCap = 100;
constexpr std::size_t kRecordBytes = 46;
constexpr int kValues = 20;
constexpr std::size_t kElementsPerRecord = 2 + kValues;
constexpr std::size_t kRowLength = kChannels * kCap * kElementsPerRecord; // 17600
constexpr std::int32_t kLastTick = 1099;

void command(const dap::mex::Call &call) {
  std::uint32_t kept[kChannels] = {};
  dap::mex::Matrix result(1, kRowLength);
  double *row = result.data();
  // Handed over before the opens: a call that cannot open returns zeros.
  result.hand_to(call.plhs[0]);
  dap::GuardedSession session;

  if (!session.open_both())
    return;
  const int text = session.text();
  const int binary = session.binary();

  DAPSendLine(text, "start cleanhouse\r");
  if (!dap::wait_ticks(10))
    return;
  DAPSendLine(text, "stop cleanhouse\r");
  DAPFlush(binary);
  if (!dap::wait_ticks(10))
    return;

  // Tasks the board never heard of send nothing: no window to wait out.
  if (!dap::start_tasks(text, "start spikera,spikerb\r"))
    return;
  std::size_t next = 0;
  dap::collect_records(binary, kRecordBytes, dap::ticks_now(), kLastTick,
                       [&](const std::uint8_t *record) {
                         const int channel = dap::le_i16(record);
                         // A channel the row has no room for is read and dropped.
                         if (channel < 0 || channel >= kChannels || kept[channel] >= kCap)
                           return;
                         ++kept[channel];
                         double *out = row + next * kElementsPerRecord;
                         out[0] = channel;
                         out[1] = dap::le_u32(record + 2);
                         for (int k = 0; k < kValues; ++k)
                           out[2 + k] = dap::le_i16(record + 6 + 2 * k);
                         ++next;
                       });
  dap::wait_ticks(10);
}

} // namespace

DAP_MEX_GATEWAY(1, command)
