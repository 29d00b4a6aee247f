// BrdLoad('name'): send name.dap from the DAPL directory to the board.
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

// The directory, the name and ".dap" share an 80-byte path.
constexpr std::size_t kLongestName =
    dap::kPathBufferSize - 1 - (sizeof dap::kDaplDirectory - 1) - 4;

void command(const dap::mex::Call &call) {
  const char *name =
      dap::mex::text_argument(call, 0, "usage: BrdLoad('DAPL file name without .dap')");
  char path[dap::kPathBufferSize];
  if (std::strlen(name) > kLongestName || !dap::dapl_path(path, sizeof path, name, ".dap"))
    dap::mex::fail(dap::mex::kBadArgument, "DAPL file name too long: at most 44 characters");

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendFile(session.text(), path);
}

} // namespace

DAP_MEX_GATEWAY(0, command)
