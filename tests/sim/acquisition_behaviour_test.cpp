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

struct GateRecord {
  int peak;
  int width;
};

// The threshold gate's records over 100 ticks for a THRESH set from the host's
// DAPL text.
std::vector<GateRecord> gate_records(const std::string &thresh) {
  const int text = ::open("/dev/accel0", O_RDWR);
  const int binary = ::open("/dev/accel1", O_RDWR);
  simtest::send(text, "pdef recthrshb\rend\rlet thresh=" + thresh + "\rstart recthrshb\r");
  simctl::command("advance 100");
  std::vector<std::uint8_t> bytes(8192);
  const ssize_t n = ::read(binary, bytes.data(), bytes.size());
  ::close(text);
  ::close(binary);
  std::vector<GateRecord> records;
  for (ssize_t at = 0; at + 6 <= n; at += 6)
    records.push_back(
        {s16(&bytes[static_cast<std::size_t>(at)]), s16(&bytes[static_cast<std::size_t>(at) + 2])});
  return records;
}

TEST_F(Acquisition, GateCutsFewerNarrowerExcursionsOutOfOneSignalAtAHigherThreshold) {
  const std::vector<GateRecord> low = gate_records("300");
  simctl::command("reset"); // the same seed: the same signal
  const std::vector<GateRecord> high = gate_records("600");
  ASSERT_GT(high.size(), 10u);
  // The excursions above 600 are those above 300 that reach 600, with the same
  // peaks and no more samples each.
  std::vector<GateRecord> tall;
  for (const GateRecord &r : low) {
    EXPECT_GE(r.peak, 300);
    if (r.peak >= 600)
      tall.push_back(r);
  }
  ASSERT_EQ(high.size(), tall.size());
  ASSERT_LT(high.size(), low.size());
  int narrower = 0;
  for (std::size_t k = 0; k < high.size(); ++k) {
    EXPECT_EQ(high[k].peak, tall[k].peak) << k;
    EXPECT_LE(high[k].width, tall[k].width) << k;
    EXPECT_GE(high[k].width, 1) << k;
    narrower += high[k].width < tall[k].width;
  }
  EXPECT_GT(narrower, 0);
}

TEST_F(Acquisition, GateThresholdBeyondTheWordSaturatesRatherThanWraps) {
  // Saturated at the top of the word, no bump of the signal reaches it; a
  // threshold wrapped into negative counts would let every bump through.
  EXPECT_TRUE(gate_records("0x7fffffffffffffff").empty());
}

} // namespace
