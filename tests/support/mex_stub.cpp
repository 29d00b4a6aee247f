// Stand-in for the host's mexPrintf in the C++ tests: the text goes to
// standard output and is kept for the tests to look at.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "mex_stub.h"

namespace mexstub {
std::string &printed() {
  static std::string text;
  return text;
}
} // namespace mexstub

extern "C" int mexPrintf(const char *format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  mexstub::printed() += buffer;
  std::fputs(buffer, stdout);
  return n;
}
