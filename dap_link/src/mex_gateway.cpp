// The one place that raises the host's errors and warnings.
#define DAP_MEX_GATEWAY_RAISES
#include "mex.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "dap_link/channel.h"
#include "dap_link/mex_gateway.h"
#include "dap_link/session.h"

namespace dap::mex {
namespace {

constexpr int kMaxWarnings = 4;

struct Warning {
  char id[64];
  char message[256];
};

// Warnings of the call under way; a plug-in runs one call at a time.
Warning g_warnings[kMaxWarnings];
int g_warning_count = 0;

void copy(char *to, std::size_t size, const char *from) {
  std::snprintf(to, size, "%s", from != nullptr ? from : "");
}

} // namespace

Error::Error(const char *id, const char *message) {
  copy(id_, sizeof id_, id);
  copy(message_, sizeof message_, message);
}

void fail(const char *id, const char *message) { throw Error(id, message); }

void warn(const char *id, const char *message) {
  if (g_warning_count >= kMaxWarnings)
    return;
  Warning &w = g_warnings[g_warning_count];
  copy(w.id, sizeof w.id, id);
  copy(w.message, sizeof w.message, message);
  // Said once: both channels' drains failing the same way is one thing to hear.
  for (int k = 0; k < g_warning_count; ++k)
    if (std::strcmp(g_warnings[k].id, w.id) == 0 &&
        std::strcmp(g_warnings[k].message, w.message) == 0)
      return;
  ++g_warning_count;
}

void run(const Call &call, int max_outputs, void (*body)(const Call &)) {
  g_warning_count = 0;
  // Filled only when the call fails; raised after every object of the body
  // is gone. Static: nothing of this frame needs a destructor, so a host that
  // leaves by longjmp skips nothing.
  static Error failure("", "");
  bool failed = false;
  if (call.nlhs > max_outputs) {
    char message[96];
    if (max_outputs == 0)
      std::snprintf(message, sizeof message, "too many outputs requested (it returns none)");
    else
      std::snprintf(message, sizeof message, "too many outputs requested (at most %d)",
                    max_outputs);
    failure = Error(kTooManyOutputs, message);
    failed = true;
  } else {
    detail::set_warning_sink(warn);
    try {
      body(call);
    } catch (const Error &e) {
      failure = e;
      failed = true;
    } catch (const std::bad_alloc &) {
      failure = Error(kOutOfMemory, "out of memory");
      failed = true;
    }
  }
  detail::set_warning_sink(nullptr);
  for (int k = 0; k < g_warning_count; ++k)
    mexWarnMsgIdAndTxt(g_warnings[k].id, "%s", g_warnings[k].message);
  g_warning_count = 0;
  if (failed)
    mexErrMsgIdAndTxt(failure.id(), "%s", failure.message());
}

bool is_real_double(const mxArray *a) {
  return a != nullptr && mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

std::size_t element_count(const mxArray *a) {
  return static_cast<std::size_t>(mxGetM(a)) * static_cast<std::size_t>(mxGetN(a));
}

const double *real_argument(const Call &call, std::size_t min_elements, const char *usage) {
  if (call.nrhs < 1 || !is_real_double(call.prhs[0]) || element_count(call.prhs[0]) < min_elements)
    fail(kUsage, usage);
  return mxGetPr(call.prhs[0]);
}

char *text_argument(const Call &call, std::size_t spare, const char *usage) {
  if (call.nrhs < 1)
    fail(kUsage, usage);
  // mxCalloc may end the call the way an error does.
  if (detail::live_sessions() != 0)
    fail(kInternal, "argument read while the channels are held");
  const std::size_t length = element_count(call.prhs[0]);
  char *text = static_cast<char *>(mxCalloc(length + 1 + spare, 1));
  if (text == nullptr)
    throw std::bad_alloc();
  if (mxGetString(call.prhs[0], text, static_cast<mwSize>(length + 1)) != 0)
    fail(kUsage, "Could not convert string data.");
  return text;
}

Matrix::Matrix(std::size_t rows, std::size_t columns) {
  if (detail::live_sessions() != 0)
    fail(kInternal, "result matrix made while the channels are held");
  array_ = mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(columns), mxREAL);
  if (array_ == nullptr)
    throw std::bad_alloc();
  data_ = mxGetPr(array_);
}

Matrix::~Matrix() {
  if (array_ != nullptr)
    mxDestroyArray(array_);
}

void Matrix::hand_to(mxArray *&slot) {
  slot = array_;
  array_ = nullptr;
}

} // namespace dap::mex
