// BrdLoadPath('path'): send the DAPL file the path names (no extension added).
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 1)
    mexErrMsgTxt("usage: BrdLoadPath('path of a DAPL file')");
  const std::size_t length = dap::mex::element_count(prhs[0]);
  char *name = static_cast<char *>(mxCalloc(length + 4, 1));
  if (mxGetString(prhs[0], name, static_cast<mwSize>(length + 1)) != 0)
    mexErrMsgTxt("Could not convert string data.");
  char path[dap::kPathBufferSize];
  if (std::strlen(name) >= sizeof path)
    mexErrMsgTxt("DAPL file path too long: at most 79 characters");
  std::strcpy(path, name);

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendFile(session.text(), path);
}
