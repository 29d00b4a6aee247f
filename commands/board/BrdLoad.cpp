// BrdLoad('name'): send name.dap from the DAPL directory to the board.
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {
// The directory, the name and ".dap" share an 80-byte path.
constexpr std::size_t kLongestName =
    dap::kPathBufferSize - 1 - (sizeof dap::kDaplDirectory - 1) - 4;
} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 1)
    mexErrMsgTxt("usage: BrdLoad('DAPL file name without .dap')");
  const std::size_t length = dap::mex::element_count(prhs[0]);
  char *name = static_cast<char *>(mxCalloc(length + 4, 1));
  if (mxGetString(prhs[0], name, static_cast<mwSize>(length + 1)) != 0)
    mexErrMsgTxt("Could not convert string data.");
  char path[dap::kPathBufferSize];
  if (std::strlen(name) > kLongestName || !dap::dapl_path(path, sizeof path, name, ".dap"))
    mexErrMsgTxt("DAPL file name too long: at most 44 characters");

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendFile(session.text(), path);
}
