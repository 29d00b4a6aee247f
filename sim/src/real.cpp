#include "real.h"

#include <unistd.h>

#include <cerrno>

namespace dapsim::real {
namespace {

// initial-exec: the library is preloaded, so its TLS is in the static block
// and reading the flag never allocates, even on a thread the host just made.
__attribute__((tls_model("initial-exec"))) thread_local bool t_inside = false;

} // namespace

void *lookup(const char *name) {
  return libc::next_symbol(name, "dapsim", "the simulated board cannot run");
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
