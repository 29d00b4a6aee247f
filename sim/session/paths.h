// Which paths and command lines mean the board, to the recorder, to the
// simulated board and to its replay alike: the two device nodes, the files
// of the DAPL directory, and the run of the board loader.
#pragma once

#include <cstdint>
#include <string>

#include "format.h"

namespace dapsession {

inline constexpr char kDaplDirectory[] = "/home/labrig/matlab/intrfc/dap/";
inline constexpr char kLoaderCommand[] = "/usr/src/linux/drivers/dap/comload";

// "/dev//./accel0" names the same node as "/dev/accel0": a path with empty
// and "." components removed and ".." resolved (a trailing slash kept).
std::string normalize_path(const char *path);

// What a path names: a device node (kAccel0 or kAccel1), a file of the DAPL
// directory, or neither (a relative path is neither).
struct PathClass {
  std::uint8_t node = kNoNode;
  bool dapl = false;
  std::string in_directory; // a DAPL file's path after the directory's, from its '/'
};
PathClass classify_path(const char *path);

// A command line that runs the board loader: by system(), or by
// posix_spawn() of /bin/sh -c (argv[2] is then the loader's command line).
bool is_loader_command(const char *command);
bool is_loader_shell(const char *path, char *const argv[]);

} // namespace dapsession
