// Stand-in for the board loader: the simulator runs it in the loader's place,
// with the loader's arguments, so that the host sees a child process start and
// end as on a rig. It loads nothing; it exits with the status the scenario
// chose ("loader exit N"), passed in its environment by the command line that
// runs it. Quiet on success, as the real loader is; one line on failure.
// "interrupted" ends it by SIGINT, as a Ctrl-C at the terminal ends the real
// one while the host waits in system().
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
  const char *chosen = std::getenv("DAPSIM_LOADER_EXIT");
  if (chosen != nullptr && std::strcmp(chosen, "interrupted") == 0) {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
  }
  const int status = chosen != nullptr ? std::atoi(chosen) & 0xFF : 0;
  if (status != 0)
    std::fprintf(stderr, "dapsim-loader: load failed (exit %d)\n", status);
  return status;
}
