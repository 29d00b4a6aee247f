// plotdemo: plots a fixed 2 x 2 matrix through the interpreter's own plot, to
// show that a plug-in can call back into it. One line per column.
#include <algorithm>

#include "mex.h"

namespace {
const double kTable[4] = {5.2, 7.9, 1.3, 4.2};
}

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray *[], int,
                                                                   const mxArray *[]) {
  mxArray *matrix = mxCreateDoubleMatrix(2, 2, mxREAL);
  std::copy(kTable, kTable + 4, mxGetPr(matrix));
  mxArray *arguments[1] = {matrix};
  mxArray *results[1] = {nullptr};
  // The matrix goes with the rest of the call's arrays when the call ends.
  mexCallMATLAB(0, results, 1, arguments, "plot");
}
