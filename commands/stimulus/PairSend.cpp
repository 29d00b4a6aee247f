// PairSend(values): queues the first column of `values` as a pair table for
// the running two-pulse tasks, in chunks that fit the driver's free space.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "dap_link/channel.h"
#include "dap_link/convert.h"
#include "dap_link/guard.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/ticks.h"

namespace {

constexpr char kUsage[] =
    "usage: PairSend(values), values a real double matrix whose first column is sent";

// The board takes a few entries every tick while its tasks run; 5 s without
// any room means nothing on the board is taking the table.
constexpr std::int32_t kStallTicks = 500;

enum class Ending { complete, interrupted, channel_failed, stalled };

// Writes `table` from byte `sent` on. A chunk never exceeds the room just
// reported and carries whole entries; what a write did not take is sent
// again, so the stream on the channel is the table in order.
Ending send_in_chunks(int fd, const std::vector<std::uint8_t> &table, std::size_t &sent) {
  std::uint32_t last_progress = dap::ticks_now();
  while (sent < table.size()) {
    if (dap::interrupted())
      return Ending::interrupted;
    // A failed query is a driver with no room to report: the stall bound
    // below ends a query that keeps failing as it ends a board that takes
    // nothing.
    const int room = std::max(DAPPutAvail(fd), 0);
    const std::size_t chunk = std::min(static_cast<std::size_t>(room) / 2 * 2, table.size() - sent);
    if (chunk > 0) {
      const int written = dap::write_some(fd, table.data() + sent, chunk);
      if (written < 0)
        return dap::interrupted() ? Ending::interrupted : Ending::channel_failed;
      if (written > 0) {
        sent += static_cast<std::size_t>(written);
        last_progress = dap::ticks_now();
        continue;
      }
    }
    if (dap::ticks_since(last_progress) > kStallTicks)
      return Ending::stalled;
  }
  return Ending::complete;
}

void command(const dap::mex::Call &call) {
  if (call.nrhs < 1 || !dap::mex::is_real_double(call.prhs[0]))
    dap::mex::fail(dap::mex::kUsage, kUsage);
  // One entry per row; a matrix with rows but no columns has no values to read.
  const std::size_t entries = mxGetM(call.prhs[0]);
  const double *values = dap::mex::real_argument(call, entries, kUsage);

  std::vector<std::uint8_t> table(2 * entries);
  for (std::size_t i = 0; i < entries; ++i)
    dap::put_le16(table.data() + 2 * i, dap::to_int16(values[i]));

  std::size_t sent = 0;
  Ending ending;
  {
    dap::GuardedSession session;
    if (!session.open_both())
      return;
    ending = send_in_chunks(session.binary(), table, sent);
  }
  // Reported once the session has ended, after the guard's own lines.
  if (ending == Ending::complete)
    return;

  char message[160];
  const char *why = ending == Ending::interrupted      ? "interrupted"
                    : ending == Ending::channel_failed ? "the binary channel failed"
                                                       : "the board took nothing for 5 s";
  std::snprintf(message, sizeof message, "%s after %zu of %zu entries sent", why, sent / 2,
                entries);
  // An interrupt is already on its way to the host; only a failure is an error.
  if (ending == Ending::interrupted)
    mexPrintf("PairSend: %s\n", message);
  else if (ending == Ending::stalled)
    dap::mex::fail("dap:PairSend:stalled", message);
  else
    dap::mex::fail("dap:PairSend:channelFailed", message);
}

} // namespace

DAP_MEX_GATEWAY(0, command)
