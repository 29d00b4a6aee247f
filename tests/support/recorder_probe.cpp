// Device calls made under the session recorder on top of the simulated
// board, for the recorder's tests. argv[1] names what to do:
//   ticks    times() before every call, the clock moving a quarter tick a read
//   refused  a write and a read of a null buffer, a request whose argument is
//            no pointer, among calls that succeed
//   fsize    calls enough to fill a file size limit (SIGXFSZ ignored), then,
//            with the limit lifted, more of them
//   ctrl-c   a request before and after a SIGINT its own handler takes,
//            before and after its interrupt query turns true, and before and
//            after Octave's interrupt count rises, twice
//   hold     runs itself as `child` (which only opens and closes the
//            channels), then holds the recording until its input ends
//   child    only opens and closes the channels
//   long     a write, then times() for 1.2 s of the host's clock: the file
//            must have grown meanwhile, no device closed
//   release  a SIGINT handler that lets go of a channel as the interrupt
//            guard does (dup2 of /dev/null over it), run by the board in the
//            middle of a request and then inside times() at tick 50; then a
//            channel opened again and written
//   many     a SIGINT handler run by the board in the middle of a request
//            lets go of 17 channels, one more than either holds back
//   threads  four threads, each opening, asking and closing the binary
//            channel many times: each close while another thread is inside
//            a call is held back by the recorder, from four threads at once
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {
volatile bool g_pending = false;
volatile sig_atomic_t g_handled = 0;
void on_sigint(int, siginfo_t *, void *) { g_handled = g_handled + 1; }
// The channels the releasing handler lets go of, first the binary one.
int g_release[2] = {-1, -1};
int g_many[17];
void let_go_of_many(int) {
  const int null = open("/dev/null", O_RDWR);
  for (const int fd : g_many)
    dup2(null, fd);
  close(null);
}
void let_go(int) {
  const int null = open("/dev/null", O_RDWR);
  dup2(null, g_release[g_handled]);
  close(null);
  g_handled = g_handled + 1;
}
} // namespace

// The interrupt query of a host that follows MATLAB's rules, and Octave's
// interrupt count.
extern "C" __attribute__((visibility("default"))) bool utIsInterruptPending() { return g_pending; }
extern "C" {
__attribute__((visibility("default"))) volatile sig_atomic_t octave_interrupt_state = 0;
}

int main(int argc, char **argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  rlimit size{};
  getrlimit(RLIMIT_FSIZE, &size);
  if (what == "fsize") {
    signal(SIGXFSZ, SIG_IGN);
    rlimit small = size;
    small.rlim_cur = 200;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  int text = open("/dev/accel0", O_RDWR);
  const int binary = open("/dev/accel1", O_RDWR);
  if (text <= 0 || binary <= 0)
    return 2;
  int value = 0;
  void *volatile nothing = nullptr; // a buffer the system refuses
  if (what == "ticks") {
    for (int i = 0; i < 40; ++i) {
      for (int k = 0; k < 1 + i % 3; ++k)
        times(nullptr);
      char line[32];
      const int n = std::snprintf(line, sizeof line, "let v=%d\r", i);
      if (write(text, line, static_cast<size_t>(n)) != n || ioctl(binary, 1, &value) != 0)
        return 3;
    }
  } else if (what == "refused") {
    const bool refused = write(text, nothing, 8) == -1 && write(text, "start x\r", 8) == 8 &&
                         read(binary, nothing, 16) == -1 &&
                         ioctl(binary, 77, reinterpret_cast<void *>(5)) == -1 &&
                         ioctl(binary, 1, &value) == 0;
    if (!refused)
      return 3;
  } else if (what == "ctrl-c") {
    struct sigaction mine {
    }, now{};
    mine.sa_sigaction = on_sigint;
    mine.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(SIGINT, &mine, nullptr);
    sigaction(SIGINT, nullptr, &now);
    if (now.sa_sigaction != on_sigint || (now.sa_flags & SA_SIGINFO) == 0)
      return 4; // the host is told what it installed
    ioctl(binary, 1, &value);
    raise(SIGINT);
    ioctl(binary, 1, &value);
    g_pending = true;
    ioctl(binary, 1, &value);
    ioctl(binary, 1, &value);
    g_pending = false;
    // Octave counts a Ctrl-C up, below zero while it acts on it, then to 0.
    for (const int state : {0, 1, -1, 0, 1}) {
      octave_interrupt_state = state;
      ioctl(binary, 1, &value);
    }
    const auto previous = signal(SIGINT, SIG_DFL);
    if (g_handled != 1 || reinterpret_cast<void *>(previous) != reinterpret_cast<void *>(on_sigint))
      return 5;
  } else if (what == "hold") {
    const pid_t child = fork();
    if (child == 0) {
      execl(argv[0], argv[0], "child", nullptr);
      _exit(127);
    }
    int status = -1;
    char byte;
    if (child < 0 || waitpid(child, &status, 0) != child || status != 0)
      return 3;
    while (read(0, &byte, 1) > 0) {
    }
  } else if (what == "long") {
    struct stat file {};
    const char *session = getenv("DAPREC_FILE");
    if (write(text, "let v=1\r", 8) != 8 || session == nullptr || stat(session, &file) != 0)
      return 3;
    const off_t before = file.st_size;
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    do {
      times(nullptr);
      clock_gettime(CLOCK_MONOTONIC, &now);
    } while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < 1200);
    if (stat(session, &file) != 0 || file.st_size <= before)
      return 6;
  } else if (what == "release") {
    g_release[0] = binary;
    g_release[1] = text;
    signal(SIGINT, let_go);
    // The board's script raises SIGINT after its 4th operation (the second
    // request) and at tick 50.
    if (ioctl(binary, 1, &value) != 0 || ioctl(binary, 1, &value) != 0 || g_handled != 1)
      return 3;
    while (times(nullptr) < 50) {
    }
    if (g_handled != 2)
      return 4;
    const int again = open("/dev/accel0", O_RDWR);
    if (again <= 0 || write(again, "let v=1\r", 8) != 8)
      return 5;
    close(again);
  } else if (what == "many") {
    for (int &fd : g_many)
      fd = open("/dev/accel1", O_RDWR);
    signal(SIGINT, let_go_of_many);
    ioctl(binary, 1, &value); // the board's script raises SIGINT in here
    for (const int fd : g_many)
      close(fd);
  } else if (what == "threads") {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([] {
        int mine = 0;
        for (int i = 0; i < 20000; ++i) {
          const int fd = open("/dev/accel1", O_RDWR);
          ioctl(fd, 1, &mine);
          close(fd);
        }
      });
    for (auto &t : threads)
      t.join();
  } else if (what == "fsize") {
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < 20; ++i)
        if (write(text, "let v=1\r", 8) != 8)
          return 3;
      close(text); // the buffer goes out
      setrlimit(RLIMIT_FSIZE, &size);
      text = open("/dev/accel0", O_RDWR);
    }
  }
  close(text);
  close(binary);
  return 0;
}
