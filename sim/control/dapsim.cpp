// reply = dapsim('command'): one control command for the simulated board.
//
// The simulator is reached through the process's symbol table, so this
// plug-in loads (and reports clearly) when the library is not preloaded.
// Its errors carry identifiers of their own (dapsim:usage, dapsim:badArgument,
// dapsim:notLoaded, dapsim:command, dapsim:outOfMemory; see dapsim.m).
#include <dlfcn.h>

#include <string>

#include "mex.h"

namespace {

using CommandFn = int (*)(const char *, char **);
using FreeFn = void (*)(char *);

} // namespace

extern "C" __attribute__((visibility("default"))) void
mexFunction(int /*nlhs*/, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 1 || !mxIsChar(prhs[0]) || mxGetM(prhs[0]) > 1)
    mexErrMsgIdAndTxt("dapsim:usage", "usage: reply = dapsim('command')");
  const auto command_fn = reinterpret_cast<CommandFn>(dlsym(RTLD_DEFAULT, "dapsim_command"));
  const auto free_fn = reinterpret_cast<FreeFn>(dlsym(RTLD_DEFAULT, "dapsim_free"));
  if (command_fn == nullptr || free_fn == nullptr)
    mexErrMsgIdAndTxt("dapsim:notLoaded", "the simulated board is not loaded: start Octave with "
                                          "LD_PRELOAD=<build>/sim/libdapsim.so");
  char *text = mxArrayToString(prhs[0]);
  if (text == nullptr)
    mexErrMsgIdAndTxt("dapsim:outOfMemory", "could not read the command text");
  std::string command(text);
  mxFree(text);
  // The simulator takes a C string: text after a NUL would be dropped, and
  // "reset<NUL>later" would run as "reset".
  if (command.size() != mxGetNumberOfElements(prhs[0]))
    mexErrMsgIdAndTxt("dapsim:badArgument", "a command cannot contain NUL characters");
  char *reply = nullptr;
  const int rc = command_fn(command.c_str(), &reply);
  std::string answer = reply != nullptr ? reply : "";
  free_fn(reply);
  // The reason is text of the simulator's, never a format.
  if (rc != 0)
    mexErrMsgIdAndTxt("dapsim:command", "%s", answer.c_str());
  plhs[0] = mxCreateString(answer.c_str());
}
