// The interrupt guard: closes the call's DAP channels on Ctrl-C.
//
// The host may run the SIGINT handler on another thread while the command is
// still running, so everything the handler and the command share is atomic.
// The handler never frees a descriptor number: it points the number at
// /dev/null (releasing the device) and leaves closing it to the command, so a
// number the host reuses for its own files is never touched by us.
#pragma once

#include <atomic>
#include <csignal>

#include "dap_link/session.h"

// Descriptors of the channels the current call holds; 0 when not held.
extern std::atomic<int> fdDapTxt;
extern std::atomic<int> fdDapBin;
// The handler of the SIGINT disposition in force when the guard was installed
// (null when the host's handler takes SA_SIGINFO). The whole disposition,
// flags and mask included, is kept beside it and is what comes back.
extern std::atomic<void (*)(int)> old_handler;

// Installs ctrl_c for SIGINT with sigaction and keeps the previous
// disposition (unless the guard is already installed, in which case the
// stored one is kept).
void mysig();
// Puts the stored disposition back, exactly as it was.
void restoresig();
// The handler: reports, releases the binary then the text channel, reports
// again, reinstates the previous disposition and raises SIGINT again.
void ctrl_c(int signal_number);

namespace dap {

// Where the handler's two lines go.
enum class GuardOutput {
  command_window,  // mexPrintf
  standard_output, // the process's standard output (SwpRead, GateRead, SwpOffset)
};

// A channel session under the interrupt guard: the guard is installed when the
// session is created and removed after the channels are closed.
class GuardedSession : public ChannelSession {
public:
  explicit GuardedSession(GuardOutput output = GuardOutput::command_window);
  ~GuardedSession() override;
  void close() override;

  // Runs a program (the board loader) with /bin/sh as system() would and
  // returns its status (-1 with errno when it could not be run). SIGINT is
  // held in this thread meanwhile, never ignored, so no Ctrl-C is lost: one
  // pending as the program starts or arriving while it runs ends the call
  // once the program is over, and so does a program that a Ctrl-C ended (its
  // interrupt is handed on to this process, as the operator meant it).
  int run_program(const char *command_line);
};

} // namespace dap
