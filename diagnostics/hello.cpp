// hello: the smallest plug-in there is; shows that a plug-in loads and that
// its text reaches the command window.
#include "mex.h"

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray *[], int,
                                                                   const mxArray *[]) {
  mexPrintf("hello, world!\n");
}
