// What the host scenarios compare before and after a call: the process's
// descriptors and its SIGINT disposition, and a way to run a check that may
// crash in a child process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace hostcheck {

// Open descriptors and what each refers to.
std::map<int, std::string> open_descriptors();

// The whole SIGINT disposition: handler, flags and mask.
struct Disposition {
  std::uintptr_t handler = 0;
  int flags = 0;
  std::string mask; // the blocked signal numbers, "15 28"
  bool operator==(const Disposition &o) const {
    return handler == o.handler && flags == o.flags && mask == o.mask;
  }
  bool operator!=(const Disposition &o) const { return !(*this == o); }
};
Disposition sigint_disposition();
// "handler 0x... in host_tests flags SA_SIGINFO|SA_ONSTACK|... mask {15}".
std::string describe(const Disposition &d);
// The file the handler's code lives in ("" for SIG_DFL, SIG_IGN or unknown).
std::string handler_module(const Disposition &d);

// Runs `check` in a forked child: "" when it returned "", otherwise what it
// returned, or how the child died.
std::string in_child(const std::function<std::string()> &check);

} // namespace hostcheck
