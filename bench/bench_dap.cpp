// Costs that matter on the acquisition machine and on the simulated board:
// converting tables, decoding records, and what a collection window costs.
// Run with the simulator preloaded (scripts/bench does this).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "dap_link/channel.h"
#include "dap_link/collect.h"
#include "dap_link/convert.h"
#include "dap_link/ticks.h"

extern "C" int mexPrintf(const char *, ...) { return 0; }

namespace {

void ConvertWaveformTable(benchmark::State &state) {
  std::vector<double> values(602);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<double>(i) * 97.3 - 30000.0;
  std::int16_t table[602];
  for (auto _ : state) {
    for (std::size_t i = 0; i < 602; ++i)
      table[i] = dap::to_int16(values[i]);
    benchmark::DoNotOptimize(table);
  }
  state.SetItemsProcessed(state.iterations() * 602);
}
BENCHMARK(ConvertWaveformTable);

void DecodeSweepRecord(benchmark::State &state) {
  std::vector<std::uint8_t> bytes(16000);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 31);
  std::vector<double> sweep(8000);
  for (auto _ : state) {
    for (std::size_t i = 0; i < sweep.size(); ++i)
      sweep[i] = dap::le_i16(&bytes[2 * i]);
    benchmark::DoNotOptimize(sweep.data());
  }
  state.SetBytesProcessed(state.iterations() * 16000);
}
BENCHMARK(DecodeSweepRecord);

// Real time of an empty 1000-tick window on the virtual clock: the reason
// the end-to-end tests can afford ten-second windows.
void EmptyCollectionWindow(benchmark::State &state) {
  const int fd = open("/dev/accel1", O_RDWR);
  if (fd <= 0) {
    state.SkipWithError("no simulated board (LD_PRELOAD)");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(dap::wait_readable(fd, 4, dap::ticks_now(), 1000));
  close(fd);
}
BENCHMARK(EmptyCollectionWindow)->Unit(benchmark::kMillisecond);

void DrainSilentChannel(benchmark::State &state) {
  const int fd = open("/dev/accel1", O_RDWR);
  if (fd <= 0) {
    state.SkipWithError("no simulated board (LD_PRELOAD)");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(DAPFlush(fd));
  close(fd);
}
BENCHMARK(DrainSilentChannel)->Unit(benchmark::kMicrosecond);

} // namespace
