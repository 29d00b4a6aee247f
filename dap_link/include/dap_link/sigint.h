// Holding SIGINT for the length of a call, for commands that handle Ctrl-C
// themselves instead of through the interrupt guard.
#pragma once

#include <signal.h>

namespace dap {

// Installs `handler` for SIGINT when created and puts back exactly the
// disposition it replaced (handler, flags and mask) when restored or
// destroyed, so that an early return or a MATLAB error cannot leave it
// installed.
//
// The handler stays installed after it runs, so every Ctrl-C during the call
// reaches it; a handler therefore never needs to reinstall itself (which,
// with the host running handlers on another thread, could race the restore
// and leave it installed after the call). Interrupted system calls are
// restarted: a Ctrl-C does not cut a transfer short.
class SigintHandler {
public:
  explicit SigintHandler(void (*handler)(int));
  SigintHandler(const SigintHandler &) = delete;
  SigintHandler &operator=(const SigintHandler &) = delete;
  ~SigintHandler();

  // Reinstates the previous disposition now. Idempotent.
  void restore();
  // True while the handler is in force (false if installing it failed).
  bool installed() const { return installed_; }

private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

} // namespace dap
