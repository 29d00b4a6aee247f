#include "paths.h"

#include <cstring>

namespace dapsession {

std::string normalize_path(const char *path) {
  std::string out;
  const char *p = path;
  while (*p != '\0') {
    while (*p == '/')
      ++p;
    const char *start = p;
    while (*p != '\0' && *p != '/')
      ++p;
    const std::string part(start, p);
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      const auto slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
      continue;
    }
    out += '/';
    out += part;
  }
  if (out.empty())
    out = "/";
  // Keep a trailing slash: "/home/.../dap/" is still a directory.
  if (p != path && *(p - 1) == '/' && out != "/")
    out += '/';
  return out;
}

PathClass classify_path(const char *path) {
  PathClass c;
  if (path == nullptr || path[0] != '/')
    return c;
  const std::string n = normalize_path(path);
  if (n == "/dev/accel0") {
    c.node = kAccel0;
  } else if (n == "/dev/accel1") {
    c.node = kAccel1;
  } else {
    const std::size_t length = sizeof kDaplDirectory - 2; // without its trailing slash
    if (n.compare(0, length, kDaplDirectory, length) == 0 &&
        (n.size() == length || n[length] == '/')) {
      c.dapl = true;
      c.in_directory = n.substr(length);
    }
  }
  return c;
}

bool is_loader_command(const char *command) {
  return command != nullptr &&
         std::strncmp(command, kLoaderCommand, sizeof kLoaderCommand - 1) == 0;
}

bool is_loader_shell(const char *path, char *const argv[]) {
  return std::strcmp(path, "/bin/sh") == 0 && argv[0] != nullptr && argv[1] != nullptr &&
         std::strcmp(argv[1], "-c") == 0 && is_loader_command(argv[2]);
}

} // namespace dapsession
