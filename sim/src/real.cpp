#include "real.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace dapsim::real {
namespace {

// initial-exec: the library is preloaded, so its TLS is in the static block
// and reading the flag never allocates, even on a thread the host just made.
__attribute__((tls_model("initial-exec"))) thread_local bool t_inside = false;

void raw_message(const char *text) {
  // The raw system call: the function that is missing may be write itself.
  const size_t length = std::strlen(text);
  [[maybe_unused]] const long rc = syscall(SYS_write, 2, text, length);
}

} // namespace

void *lookup(const char *name) {
  void *fn = dlsym(RTLD_NEXT, name);
  if (fn == nullptr) {
    raw_message("dapsim: the C library has no '");
    raw_message(name);
    raw_message("'; the simulated board cannot run\n");
    std::abort();
  }
  return fn;
}

bool inside() { return t_inside; }

InsideSimulator::InsideSimulator() : was_(t_inside) { t_inside = true; }
InsideSimulator::~InsideSimulator() { t_inside = was_; }

void write_all(int fd, const char *text, size_t length) {
  const int saved = errno;
  while (length > 0) {
    const ssize_t n = write()(fd, text, length);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    text += n;
    length -= static_cast<size_t>(n);
  }
  errno = saved;
}

} // namespace dapsim::real
