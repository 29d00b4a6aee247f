// Command calls made on the device nodes, for the tests of a recording whose
// process is killed. Each call: times(), both nodes opened, a line sent, a
// request, both closed.
//   crash_probe CALLS [KILLED_AFTER [mid]]
// makes CALLS calls; the process kills itself with SIGKILL once call
// KILLED_AFTER is over (with "mid": while the call after it is under way).
// A call that fails ends the program with status 1, as a command's error
// would end a script.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/times.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 0;
  const int killed_after = argc > 2 ? std::atoi(argv[2]) : -1;
  const bool mid = argc > 3 && std::strcmp(argv[3], "mid") == 0;
  for (int call = 1; call <= calls; ++call) {
    times(nullptr);
    const int text = open("/dev/accel0", O_RDWR);
    const int binary = open("/dev/accel1", O_RDWR);
    if (text < 0 || binary < 0)
      return 1;
    char line[32];
    const int n = std::snprintf(line, sizeof line, "let v=%d\r", call);
    int value = 0;
    if (write(text, line, static_cast<size_t>(n)) != n || ioctl(binary, 1, &value) != 0)
      return 1;
    if (mid && call == killed_after + 1)
      raise(SIGKILL);
    if (close(binary) != 0 || close(text) != 0)
      return 1;
    if (!mid && call == killed_after)
      raise(SIGKILL);
  }
  return 0;
}
