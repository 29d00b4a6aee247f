// Word streams cut at arbitrary byte positions.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "dap_link/collect.h"

namespace {

const std::vector<std::uint8_t> kStream = {0xFF, 0x7F, 0x00, 0x80, 0x01, 0x00,
                                           0xFF, 0xFF, 0x34, 0x12, 0xCD};
const std::vector<double> kSamples = {32767, -32768, 1, -1, 0x1234};

// Feeds kStream cut before every byte whose bit is set in `cuts`.
std::vector<double> assemble(unsigned cuts, std::size_t capacity) {
  std::vector<double> out(capacity, -7.0);
  dap::SampleAssembler assembler(out.data(), out.size());
  int begin = 0;
  for (int i = 1; i <= static_cast<int>(kStream.size()); ++i) {
    if (i == static_cast<int>(kStream.size()) || (cuts >> i & 1u)) {
      assembler.take(kStream.data() + begin, i - begin, begin);
      begin = i;
    }
  }
  return out;
}

TEST(SampleAssembler, EveryWayOfCuttingTheStreamGivesTheSameSamples) {
  for (unsigned cuts = 0; cuts < (1u << kStream.size()); ++cuts) {
    const std::vector<double> out = assemble(cuts, 6);
    EXPECT_EQ(std::vector<double>(out.begin(), out.begin() + 5), kSamples) << "cuts " << cuts;
    // The lone last byte makes no sample; the slot keeps what it held.
    EXPECT_EQ(out[5], -7.0) << "cuts " << cuts;
  }
}

TEST(SampleAssembler, NeverWritesPastItsSamples) {
  std::vector<double> out(4, 0.0);
  out.push_back(99.0); // a guard element beyond the count given
  dap::SampleAssembler assembler(out.data(), 3);
  assembler.take(kStream.data(), static_cast<int>(kStream.size()), 0);
  EXPECT_EQ(out, (std::vector<double>{32767, -32768, 1, 0, 99.0}));
}

} // namespace
