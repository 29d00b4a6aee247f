// offsets = SwpOffset: measures the pair of input offsets on the board.
#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr int kRecordBytes = 4;
constexpr std::int32_t kLastTickOfWindow = 1000;

void command(const dap::mex::Call &call) {
  dap::mex::Matrix result(1, 2);
  dap::GuardedSession session(dap::GuardOutput::standard_output);
  if (!session.open_both())
    return;
  result.hand_to(call.plhs[0]);
  double *offsets = result.data();

  // Tasks the board never heard of send no record: no window to wait out.
  if (!dap::start_tasks(session.text(), "start offseta,offsetb\r"))
    return;
  // A record that a short read leaves incomplete is completed within the
  // window; however the window ended, what came of the record is taken, so
  // that no part of it lingers in front of the next sweep.
  std::uint8_t record[kRecordBytes] = {0, 0, 0, 0};
  const std::size_t got = dap::take_record(session.binary(), record, sizeof record,
                                           dap::ticks_now(), kLastTickOfWindow);
  if (dap::interrupted())
    return;
  // A value whose two bytes did not both arrive stays 0.
  if (got >= 2)
    offsets[0] = dap::le_i16(record);
  if (got >= 4)
    offsets[1] = dap::le_i16(record + 2);
  // offseta keeps running: it is the board's own offset tracker.
  DAPSendLine(session.text(), "stop offsetb\r");
}

} // namespace

DAP_MEX_GATEWAY(1, command)
