// BrdLoadPath('path'): send the DAPL file the path names (no extension added).
#include <cstring>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

DAP_MEX_ENTRY void mexFunction(int, mxArray *[], int nrhs, const mxArray *prhs[]) {
  const char *name =
      dap::mex::text_argument(nrhs, prhs, 0, "usage: BrdLoadPath('path of a DAPL file')");
  char path[dap::kPathBufferSize];
  if (std::strlen(name) >= sizeof path)
    mexErrMsgTxt("DAPL file path too long: at most 79 characters");
  std::strcpy(path, name);

  dap::GuardedSession session;
  if (!session.open_text())
    return;
  DAPSendFile(session.text(), path);
}
