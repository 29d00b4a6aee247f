// The MEX gateway of a command: its exported entry point, argument checks,
// result matrices and the one door through which a call reports an error.
//
// A host may leave mexFunction through its error functions without running
// C++ destructors (a longjmp back into the host). Raised while a channel
// session is alive, such an error would leave the channels open and the
// interrupt guard installed, pointing into a plug-in the host may unload. So
// a command never raises a MATLAB error itself: it throws dap::mex::Error
// (through fail()), and the gateway raises it once the command's body has
// returned and everything it held has been let go of. The host's error
// functions are poisoned below, so a command cannot call them by mistake.
// Result matrices follow the same rule: they are made before a session
// starts (a failed allocation may end the call as an error does) and handed
// to the caller when the command decides.
#pragma once

#include <cstddef>

#include "mex.h"

// The one function a plug-in exports besides mexVersion.
#define DAP_MEX_ENTRY extern "C" __attribute__((visibility("default")))

// Defines mexFunction for a command whose body is `body` (a function taking
// const dap::mex::Call &) and which returns at most `max_outputs` results.
#define DAP_MEX_GATEWAY(max_outputs, body)                                                         \
  DAP_MEX_ENTRY void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {     \
    dap::mex::run({nlhs, plhs, nrhs, prhs}, (max_outputs), (body));                                \
  }

namespace dap::mex {

// Error identifiers, one scheme for every command (the README lists them).
inline constexpr char kUsage[] = "dap:usage";
inline constexpr char kBadArgument[] = "dap:badArgument";
inline constexpr char kTooManyOutputs[] = "dap:tooManyOutputs";
inline constexpr char kOutOfMemory[] = "dap:outOfMemory";
inline constexpr char kInternal[] = "dap:internal";

// One call of the command, as the host made it.
struct Call {
  int nlhs;
  mxArray **plhs;
  int nrhs;
  const mxArray **prhs;
};

// What a call ends with instead of its results. Fixed-size storage: raising
// it must not depend on a destructor that a host might skip.
class Error {
public:
  Error(const char *id, const char *message);
  const char *id() const { return id_; }
  const char *message() const { return message_; }

private:
  char id_[64];
  char message_[256];
};

// Ends the call with a MATLAB error: throws Error.
[[noreturn]] void fail(const char *id, const char *message);

// A MATLAB warning with an identifier. Issued by the gateway once the body
// has returned: a host that turns warnings into errors must not be able to
// end the call while a session is alive. At most a few per call are kept,
// and the same warning only once.
void warn(const char *id, const char *message);

// Runs one call: refuses more outputs than `max_outputs` (before anything
// else), runs `body`, then raises its warnings and, if it failed, its error.
void run(const Call &call, int max_outputs, void (*body)(const Call &));

// Sparse storage holds only the nonzero values, so reading it as a full
// array would run past its data.
bool is_real_double(const mxArray *a);

std::size_t element_count(const mxArray *a);

// The real part of argument 0 when it is a real double array of at least
// `min_elements` elements; otherwise the call fails with `usage` (dap:usage).
const double *real_argument(const Call &call, std::size_t min_elements, const char *usage);

// The text of argument 0, column by column, in a zero-filled buffer from
// mxCalloc (the host frees it when the call ends) with `spare` bytes of room
// after the text and its NUL. Without the argument the call fails with
// `usage`, with an argument that is not text with "Could not convert string
// data." (both dap:usage). Read before a session starts, as matrices are made.
char *text_argument(const Call &call, std::size_t spare, const char *usage);

// A zero-filled real double matrix, owned until it is handed to the caller
// and destroyed otherwise. Made only while no channel session is alive.
class Matrix {
public:
  Matrix(std::size_t rows, std::size_t columns);
  Matrix(const Matrix &) = delete;
  Matrix &operator=(const Matrix &) = delete;
  ~Matrix();

  double *data() const { return data_; }
  // The caller owns it from now on.
  void hand_to(mxArray *&slot);

private:
  mxArray *array_;
  double *data_;
};

} // namespace dap::mex

#ifndef DAP_MEX_GATEWAY_RAISES
#pragma GCC poison mexErrMsgTxt mexErrMsgIdAndTxt mexWarnMsgTxt mexWarnMsgIdAndTxt
#endif
