// BrdLoadPath('path'): send the DAPL file the path names (no extension added).
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

void command(const dap::mex::Call &call) {
  const char *name = dap::mex::text_argument(call, 0, "usage: BrdLoadPath('path of a DAPL file')");
  char path[dap::kPathBufferSize];
  if (std::strlen(name) >= sizeof path)
    dap::mex::fail(dap::mex::kBadArgument, "DAPL file path too long: at most 79 characters");
  std::strcpy(path, name);

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendFile(session.text(), path);
}

} // namespace

DAP_MEX_GATEWAY(0, command)
