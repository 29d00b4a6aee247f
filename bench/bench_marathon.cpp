// marathon's collection against a plain loop of the same device calls, in
// the same run: 400 blocks of 1000 bytes, all waiting, each taken with the
// clock read once, the driver asked twice and one read, then converted to
// doubles. The board here is a stand-in of this program's own: the device
// is a memory file holding the 400,000 bytes, a request is one system call
// and a read is one system call that copies the bytes, as a driver's would.
// Reports both times and their ratio (marathon / plain).
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/times.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "dap_link/collect.h"

extern "C" int mexPrintf(const char *, ...) { return 0; }

namespace {

constexpr int kBlocks = 400;
constexpr int kBlockBytes = 1000;
constexpr long kAllWaiting = 1L << 20;

int g_device = -1;
long g_offset = 0;

int open_device() {
  if (g_device >= 0)
    return g_device;
  const int fd = static_cast<int>(syscall(SYS_memfd_create, "dap_bench_board", 0));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kBlocks) * kBlockBytes);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
  if (fd < 0 ||
      syscall(SYS_write, fd, bytes.data(), bytes.size()) != static_cast<long>(bytes.size()))
    return -1;
  g_device = fd;
  return fd;
}

} // namespace

// The stand-in driver: the program's own read and ioctl, which the DAP link
// (built into this program) calls. Every other descriptor goes to the system.
extern "C" ssize_t read(int fd, void *buffer, size_t count) {
  if (fd != g_device || g_device < 0)
    return syscall(SYS_read, fd, buffer, count);
  const long size = static_cast<long>(kBlocks) * kBlockBytes;
  if (g_offset + static_cast<long>(count) > size)
    g_offset = 0;
  const long got = syscall(SYS_pread64, fd, buffer, count, g_offset);
  if (got > 0)
    g_offset += got;
  return got;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void *argument = va_arg(ap, void *);
  va_end(ap);
  if (fd != g_device || g_device < 0)
    return static_cast<int>(syscall(SYS_ioctl, fd, request, argument));
  int unused = 0;
  static_cast<void>(syscall(SYS_ioctl, fd, FIONREAD, &unused)); // the driver's cost
  if (request == 1)
    *static_cast<int *>(argument) = static_cast<int>(kAllWaiting);
  return 0;
}

namespace {

void marathon_blocks(int fd, double *samples) {
  for (int b = 0; b < kBlocks; ++b)
    dap::take_block(fd, samples + b * (kBlockBytes / 2), kBlockBytes / 2, 1000);
}

// The same calls written plainly: the clock, two requests, one read, and
// each pair of bytes made a signed 16-bit sample.
void plain_blocks(int fd, double *samples) {
  std::uint8_t staging[kBlockBytes];
  for (int b = 0; b < kBlocks; ++b) {
    struct tms unused;
    benchmark::DoNotOptimize(times(&unused));
    int waiting = 0;
    ioctl(fd, 1, &waiting);
    ioctl(fd, 1, &waiting);
    if (waiting < kBlockBytes || read(fd, staging, kBlockBytes) != kBlockBytes)
      continue;
    double *out = samples + b * (kBlockBytes / 2);
    for (int i = 0; i < kBlockBytes / 2; ++i)
      out[i] = static_cast<std::int16_t>(staging[2 * i] | (staging[2 * i + 1] << 8));
  }
}

void MarathonAgainstPlainLoop(benchmark::State &state) {
  const int fd = open_device();
  if (fd < 0) {
    state.SkipWithError("no memory file for the stand-in board");
    return;
  }
  using Clock = std::chrono::steady_clock;
  std::vector<double> samples(static_cast<std::size_t>(kBlocks) * kBlockBytes / 2);
  double plain_ns = 0;
  double marathon_ns = 0;
  // Timed alternately first and second, so that neither gains from the
  // other warming the caches.
  auto timed = [&](auto &&run) {
    g_offset = 0;
    const auto start = Clock::now();
    run(fd, samples.data());
    benchmark::DoNotOptimize(samples.data());
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  };
  bool plain_first = true;
  for (auto _ : state) {
    double plain = 0;
    double marathon = 0;
    if (plain_first) {
      plain = timed(plain_blocks);
      marathon = timed(marathon_blocks);
    } else {
      marathon = timed(marathon_blocks);
      plain = timed(plain_blocks);
    }
    plain_first = !plain_first;
    plain_ns += plain;
    marathon_ns += marathon;
    state.SetIterationTime(marathon / 1e9);
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["plain_us"] = plain_ns / runs / 1000;
  state.counters["marathon_us"] = marathon_ns / runs / 1000;
  state.counters["ratio"] = plain_ns > 0 ? marathon_ns / plain_ns : 0;
}
BENCHMARK(MarathonAgainstPlainLoop)->UseManualTime()->Iterations(200);

} // namespace

BENCHMARK_MAIN();
