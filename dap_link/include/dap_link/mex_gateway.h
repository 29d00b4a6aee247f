// Small idioms of the MEX gateways: the exported entry point and argument checks.
#pragma once

#include <cstddef>

#include "mex.h"

// The one function a plug-in exports besides mexVersion.
#define DAP_MEX_ENTRY extern "C" __attribute__((visibility("default")))

namespace dap::mex {

// Sparse storage holds only the nonzero values, so reading it as a full
// array would run past its data.
inline bool is_real_double(const mxArray *a) {
  return a != nullptr && mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

inline std::size_t element_count(const mxArray *a) {
  return static_cast<std::size_t>(mxGetM(a)) * static_cast<std::size_t>(mxGetN(a));
}

// The real part of argument 0 when it is a real double array of at least
// `min_elements` elements; otherwise the call ends with `usage` as a MATLAB
// error before anything is touched.
inline const double *real_argument(int nrhs, const mxArray *prhs[], std::size_t min_elements,
                                   const char *usage) {
  if (nrhs < 1 || !is_real_double(prhs[0]) || element_count(prhs[0]) < min_elements) {
    mexErrMsgTxt(usage);
    return nullptr; // not reached: the host ends the call
  }
  return mxGetPr(prhs[0]);
}

// The text of argument 0, column by column, in a zero-filled buffer from
// mxCalloc (MATLAB frees it when the call ends) with `spare` bytes of room
// after the text and its NUL. A call without the argument ends with `usage`,
// one whose argument is not text with "Could not convert string data.",
// both before anything is touched.
inline char *text_argument(int nrhs, const mxArray *prhs[], std::size_t spare, const char *usage) {
  if (nrhs < 1)
    mexErrMsgTxt(usage);
  const std::size_t length = element_count(prhs[0]);
  char *text = static_cast<char *>(mxCalloc(length + 1 + spare, 1));
  if (mxGetString(prhs[0], text, static_cast<mwSize>(length + 1)) != 0)
    mexErrMsgTxt("Could not convert string data.");
  return text;
}

} // namespace dap::mex
