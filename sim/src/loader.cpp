#include "loader.h"

#include <dlfcn.h>
#include <sys/wait.h>

#include <cstdlib>

#include "real.h"

namespace dapsim {

const std::string &loader_folder() {
  // Found at load time, before the host may change directory: the stand-in
  // is built and installed next to this library.
  static const std::string *folder = [] {
    static const char anchor = 0;
    std::string path = ".";
    Dl_info info{};
    if (dladdr(&anchor, &info) != 0 && info.dli_fname != nullptr) {
      real::InsideSimulator inside;
      char *resolved = realpath(info.dli_fname, nullptr);
      path = resolved != nullptr ? resolved : info.dli_fname;
      std::free(resolved);
    }
    const auto slash = path.rfind('/');
    return new std::string(slash == std::string::npos ? "." : path.substr(0, slash));
  }();
  return *folder;
}

namespace {

std::string shell_quoted(const std::string &word) {
  std::string out = "'";
  for (const char c : word) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

} // namespace

std::string LoaderScenario::describe() const {
  return missing ? "missing" : interrupted ? "interrupted" : "exit " + std::to_string(exit);
}

std::string stand_in_line(const char *command_line, const LoaderScenario &how) {
  const std::string program =
      loader_folder() + (how.missing ? "/dapsim-loader-missing" : "/dapsim-loader");
  return std::string(kLoaderExitVariable) + "=" +
         (how.interrupted ? "interrupted" : std::to_string(how.exit)) + " " +
         shell_quoted(program) + (command_line + sizeof kLoaderCommand - 1);
}

std::string loader_outcome(int status, int error) {
  if (status == -1)
    return "-1 errno=" + std::to_string(error);
  if (WIFEXITED(status))
    return std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "signal " + std::to_string(WTERMSIG(status));
  return std::to_string(status);
}

} // namespace dapsim
