// The board loader: the commands run it as a child of the host; our
// stand-in runs in its place, as the scenario says it goes.
#pragma once

#include <optional>
#include <string>

#include "paths.h"

namespace dapsim {

// The board loader as the commands run it (paths.h), and where our stand-in
// for it is.
using dapsession::kLoaderCommand;
// Set in the stand-in's environment by the command line that runs it: its
// exit status, and the mark by which the shell that runs it is known.
inline constexpr char kLoaderExitVariable[] = "DAPSIM_LOADER_EXIT";
const std::string &loader_folder();

// What the stand-in does: exit with this status, or be missing altogether
// (the shell's 127), or end by SIGINT, as a Ctrl-C at the terminal ends
// the loader.
struct LoaderScenario {
  int exit = 0;
  bool missing = false;
  bool interrupted = false;
  std::string describe() const;
};

// How a run of the loader goes: the stand-in's shell line (empty when a
// replay says it could not start) and what a replay recorded of it.
struct LoaderRun {
  std::string command_line;
  std::string shell_line;
  std::optional<int> recorded;
  int recorded_errno = 0;
};

// The shell line that runs the stand-in in the loader's place, with the
// loader's arguments.
std::string stand_in_line(const char *command_line, const LoaderScenario &how);
// How the trace shows a run's end: its exit status, `signal N`, or
// `-1 errno=E` when it could not start.
std::string loader_outcome(int status, int error);

} // namespace dapsim
