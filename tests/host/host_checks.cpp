#include "host_checks.h"

#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hostcheck {

std::map<int, std::string> open_descriptors() {
  std::map<int, std::string> fds;
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr)
    return fds;
  const int own = dirfd(dir);
  while (const dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.')
      continue;
    const int fd = std::atoi(entry->d_name);
    if (fd == own)
      continue;
    char target[PATH_MAX] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    fds[fd] = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?";
  }
  closedir(dir);
  return fds;
}

Disposition sigint_disposition() {
  struct sigaction action {};
  sigaction(SIGINT, nullptr, &action);
  Disposition d;
  d.flags = action.sa_flags;
  d.handler = (action.sa_flags & SA_SIGINFO) != 0
                  ? reinterpret_cast<std::uintptr_t>(action.sa_sigaction)
                  : reinterpret_cast<std::uintptr_t>(action.sa_handler);
  // The kernel keeps 64 signals; glibc's sigset_t has room for more, which
  // sigaction leaves as it found them.
  for (int s = 1; s <= 64; ++s)
    if (sigismember(&action.sa_mask, s) == 1)
      d.mask += (d.mask.empty() ? "" : " ") + std::to_string(s);
  return d;
}

std::string handler_module(const Disposition &d) {
  Dl_info info{};
  if (d.handler <= 1 || dladdr(reinterpret_cast<void *>(d.handler), &info) == 0 ||
      info.dli_fname == nullptr)
    return "";
  return info.dli_fname;
}

std::string describe(const Disposition &d) {
  static const struct {
    unsigned flag;
    const char *name;
  } kFlags[] = {{SA_SIGINFO, "SA_SIGINFO"},
                {SA_ONSTACK, "SA_ONSTACK"},
                {SA_RESTART, "SA_RESTART"},
                {SA_NODEFER, "SA_NODEFER"},
                {static_cast<unsigned>(SA_RESETHAND), "SA_RESETHAND"},
                {0x04000000u, "SA_RESTORER"}};
  std::string flags;
  const auto flags_set = static_cast<unsigned>(d.flags);
  unsigned rest = flags_set;
  for (const auto &f : kFlags)
    if ((flags_set & f.flag) != 0) {
      flags += (flags.empty() ? "" : "|") + std::string(f.name);
      rest &= ~f.flag;
    }
  if (rest != 0)
    flags += (flags.empty() ? "" : "|") + std::to_string(rest);
  char handler[32];
  std::snprintf(handler, sizeof handler, "%#lx", static_cast<unsigned long>(d.handler));
  std::string module = handler_module(d);
  if (const auto slash = module.rfind('/'); slash != std::string::npos)
    module = module.substr(slash + 1);
  return std::string("handler ") + handler + (module.empty() ? "" : " in " + module) + " flags " +
         (flags.empty() ? "0" : flags) + " mask {" + d.mask + "}";
}

std::string in_child(const std::function<std::string()> &check) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0)
    return "pipe failed";
  const pid_t child = fork();
  if (child < 0)
    return "fork failed";
  if (child == 0) {
    close(pipe_fds[0]);
    const std::string failure = check();
    if (!failure.empty() && write(pipe_fds[1], failure.data(), failure.size()) < 0)
      _exit(2);
    _exit(failure.empty() ? 0 : 1);
  }
  close(pipe_fds[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    message.append(buffer, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status))
    return message + "child killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return message.empty() ? "child failed" : message;
  return "";
}

} // namespace hostcheck
