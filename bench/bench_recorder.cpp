// What the session recorder costs a device call: each benchmark makes the
// same call on the same descriptor with and without the recorder in the
// way, in the same run, and reports both and their ratio; the last one a
// whole command call (open, requests, close), with DAPREC_SYNC or without. Run with the
// recorder preloaded ahead of the fake driver (scripts/bench does this):
// the plain call goes to the fake driver's (or the C library's) function
// directly, the recorded one through the recorder's.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

namespace {

using Clock = std::chrono::steady_clock;
using IoctlFn = int (*)(int, unsigned long, ...);
using ReadFn = ssize_t (*)(int, void *, size_t);
using WriteFn = ssize_t (*)(int, const void *, size_t);

template <typename T> T symbol_of(const char *library, const char *name) {
  void *handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
  return handle == nullptr ? nullptr : reinterpret_cast<T>(dlsym(handle, name));
}

bool recorder_loaded() {
  void *handle = dlopen("libdaprec.so", RTLD_NOW | RTLD_NOLOAD);
  return handle != nullptr;
}

int device() {
  static const int fd = [] {
    // The session goes to a scratch file, with room for the whole run.
    setenv("DAPREC_FILE",
           (std::string("/tmp/dap_bench_recorder.") + std::to_string(getpid())).c_str(), 0);
    setenv("DAPREC_LIMIT", "1073741824", 0);
    return ::open("/dev/accel1", O_RDWR);
  }();
  return fd;
}

// Times `batch` plain calls and `batch` recorded calls per iteration.
template <typename Plain, typename Recorded>
void compare(benchmark::State &state, Plain &&plain, Recorded &&recorded, int batch = 1000) {
  if (!recorder_loaded()) {
    state.SkipWithError("preload libdaprec.so ahead of libdapfake.so (scripts/bench)");
    return;
  }
  const int kBatch = batch;
  double plain_ns = 0;
  double recorded_ns = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i)
      plain();
    const auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i)
      recorded();
    const auto t2 = Clock::now();
    plain_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
    recorded_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
  }
  const double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["plain_ns"] = plain_ns / calls;
  state.counters["recorded_ns"] = recorded_ns / calls;
  state.counters["ratio"] = plain_ns > 0 ? recorded_ns / plain_ns : 0;
  state.SetItemsProcessed(static_cast<std::int64_t>(calls));
}

// The polling request: "how many bytes are waiting?", as a collection loop
// asks it over and over.
void RecorderIoctl(benchmark::State &state) {
  const auto plain_ioctl = symbol_of<IoctlFn>("libdapfake.so", "ioctl");
  const int fd = device();
  if (plain_ioctl == nullptr || fd < 0) {
    state.SkipWithError("no fake driver (libdapfake.so) preloaded");
    return;
  }
  int value = 0;
  compare(
      state, [&] { benchmark::DoNotOptimize(plain_ioctl(fd, 1, &value)); },
      [&] { benchmark::DoNotOptimize(::ioctl(fd, 1, &value)); });
}
BENCHMARK(RecorderIoctl)->UseManualTime()->Iterations(200);

// A read that finds nothing waiting.
void RecorderRead(benchmark::State &state) {
  const auto plain_read = symbol_of<ReadFn>("libc.so.6", "read");
  const int fd = device();
  if (plain_read == nullptr || fd < 0) {
    state.SkipWithError("no fake driver (libdapfake.so) preloaded");
    return;
  }
  char buffer[64];
  compare(
      state, [&] { benchmark::DoNotOptimize(plain_read(fd, buffer, sizeof buffer)); },
      [&] { benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer)); });
}
BENCHMARK(RecorderRead)->UseManualTime()->Iterations(200);

// A 64-byte table chunk sent: a record with its bytes every time.
void RecorderWrite(benchmark::State &state) {
  const auto plain_write = symbol_of<WriteFn>("libc.so.6", "write");
  const int fd = device();
  if (plain_write == nullptr || fd < 0) {
    state.SkipWithError("no fake driver (libdapfake.so) preloaded");
    return;
  }
  char table[64] = {1, 2, 3};
  compare(
      state, [&] { benchmark::DoNotOptimize(plain_write(fd, table, sizeof table)); },
      [&] {
        ++table[0];
        benchmark::DoNotOptimize(::write(fd, table, sizeof table));
      });
}
BENCHMARK(RecorderWrite)->UseManualTime()->Iterations(200);

// A command call as the commands make it: the channel opened, twenty
// polling requests, the channel closed. The close hands the recorder's
// block to the kernel, and with DAPREC_SYNC=1 (scripts/bench runs this once
// more so) waits until it is on disk.
void RecorderCommandCall(benchmark::State &state) {
  using OpenFn = int (*)(const char *, int, ...);
  using CloseFn = int (*)(int);
  const auto plain_open = symbol_of<OpenFn>("libdapfake.so", "open");
  const auto plain_ioctl = symbol_of<IoctlFn>("libdapfake.so", "ioctl");
  const auto plain_close = symbol_of<CloseFn>("libc.so.6", "close");
  if (plain_open == nullptr || plain_ioctl == nullptr || plain_close == nullptr || device() < 0) {
    state.SkipWithError("no fake driver (libdapfake.so) preloaded");
    return;
  }
  int value = 0;
  auto command = [&](auto &&open_fn, auto &&ioctl_fn, auto &&close_fn) {
    const int fd = open_fn("/dev/accel1", O_RDWR);
    for (int i = 0; i < 20; ++i)
      benchmark::DoNotOptimize(ioctl_fn(fd, 1, &value));
    close_fn(fd);
  };
  state.counters["sync"] = getenv("DAPREC_SYNC") != nullptr ? 1 : 0;
  compare(
      state, [&] { command(plain_open, plain_ioctl, plain_close); },
      [&] {
        command([](const char *path, int flags) { return ::open(path, flags); },
                [](int fd, unsigned long request, int *v) { return ::ioctl(fd, request, v); },
                [](int fd) { return ::close(fd); });
      },
      10);
}
BENCHMARK(RecorderCommandCall)->UseManualTime()->Iterations(20);

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The scratch session is of no further use.
  if (const char *file = getenv("DAPREC_FILE"); file != nullptr && device() >= 0) {
    ::close(device());
    std::string name = file;
    if (name.rfind("/tmp/dap_bench_recorder.", 0) == 0)
      unlink(name.c_str());
  }
  return 0;
}
