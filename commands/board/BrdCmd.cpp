// BrdCmd('line'): send one DAPL command line to the board.
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &call) {
  // Room for the carriage return that ends a DAPL line.
  char *line = dap::mex::text_argument(call, 1, "usage: BrdCmd('DAPL command line')");
  std::strcat(line, "\r");

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendLine(session.text(), line);
}

} // namespace

DAP_MEX_GATEWAY(0, command)
