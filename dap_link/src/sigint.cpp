#include "dap_link/sigint.h"

#include <cerrno>

namespace dap {

SigintHandler::SigintHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  const int saved_errno = errno;
  installed_ = sigaction(SIGINT, &action, &previous_) == 0;
  // Callers report a failed open with errno; installing the handler must not
  // have changed it.
  errno = saved_errno;
}

SigintHandler::~SigintHandler() { restore(); }

void SigintHandler::restore() {
  if (!installed_)
    return;
  const int saved_errno = errno;
  sigaction(SIGINT, &previous_, nullptr);
  errno = saved_errno;
  installed_ = false;
}

} // namespace dap
