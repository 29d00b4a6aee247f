// The simulated acquisition programs, driven through the device channels.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim_test_util.h"

namespace {

class Acquisition : public simtest::Board {};

int s16(const std::uint8_t *p) {
  const int u = p[0] | (p[1] << 8);
  return u < 0x8000 ? u : u - 0x10000;
}

// The threshold gate's peaks for a THRESH set from the host's DAPL text.
std::vector<int> gate_peaks(const std::string &thresh) {
  const int text = ::open("/dev/accel0", O_RDWR);
  const int binary = ::open("/dev/accel1", O_RDWR);
  simtest::send(text, "pdef recthrshb\rend\rlet thresh=" + thresh + "\rstart recthrshb\r");
  simctl::command("advance 20");
  std::vector<std::uint8_t> bytes(4096);
  const ssize_t n = ::read(binary, bytes.data(), bytes.size());
  ::close(text);
  ::close(binary);
  std::vector<int> peaks;
  for (ssize_t at = 0; at + 6 <= n; at += 6)
    peaks.push_back(s16(&bytes[static_cast<std::size_t>(at)]));
  return peaks;
}

TEST_F(Acquisition, GatePeaksReachTheThresholdAndSaturateAtTheTopOfTheWord) {
  const std::vector<int> peaks = gate_peaks("1000");
  ASSERT_GT(peaks.size(), 10u);
  for (const int peak : peaks)
    EXPECT_GE(peak, 1000);
  // A threshold beyond what a word holds pins every peak at its top, rather
  // than wrapping into negative peaks.
  simctl::command("reset");
  const std::vector<int> pinned = gate_peaks("0x7fffffffffffffff");
  ASSERT_GT(pinned.size(), 10u);
  for (const int peak : pinned)
    EXPECT_EQ(peak, 32767);
}

} // namespace
