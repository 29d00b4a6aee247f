#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "dap_link/convert.h"
#include "dap_link/ticks.h"

namespace {

TEST(NumberConversion, TruncatesTowardZero) {
  EXPECT_EQ(dap::to_int32(7.99), 7);
  EXPECT_EQ(dap::to_int32(2.9), 2);
  EXPECT_EQ(dap::to_int32(-2.9), -2);
  EXPECT_EQ(dap::to_int32(-0.5), 0);
  EXPECT_EQ(dap::to_int32(2147483647.9), 2147483647);
  EXPECT_EQ(dap::to_int32(-2147483648.9), INT32_MIN);
}

TEST(NumberConversion, NanAndOutOfRangeGiveTheSmallestInteger) {
  EXPECT_EQ(dap::to_int32(std::nan("")), INT32_MIN);
  EXPECT_EQ(dap::to_int32(2147483648.0), INT32_MIN);
  EXPECT_EQ(dap::to_int32(-2147483649.0), INT32_MIN);
  EXPECT_EQ(dap::to_int32(std::numeric_limits<double>::infinity()), INT32_MIN);
  EXPECT_EQ(dap::to_int32(-std::numeric_limits<double>::infinity()), INT32_MIN);
  EXPECT_EQ(dap::to_int32(1e300), INT32_MIN);
}

TEST(NumberConversion, SixteenBitFieldsKeepTheLowBits) {
  EXPECT_EQ(dap::to_int16(32767.9), 32767);
  EXPECT_EQ(dap::to_int16(32768), -32768);
  EXPECT_EQ(dap::to_int16(40000), -25536);
  EXPECT_EQ(dap::to_int16(65536), 0);
  EXPECT_EQ(dap::to_int16(70000), 4464);
  EXPECT_EQ(dap::to_int16(-1.9), -1);
  EXPECT_EQ(dap::to_int16(-12.7), -12);
  EXPECT_EQ(dap::to_int16(std::nan("")), 0);
  EXPECT_EQ(dap::to_int16(1e12), 0);
}

TEST(LittleEndianFields, DecodeByteByByte) {
  const std::uint8_t max[] = {0xFF, 0x7F}, min[] = {0x00, 0x80}, one[] = {0x01, 0x00};
  EXPECT_EQ(dap::le_i16(max), 32767);
  EXPECT_EQ(dap::le_i16(min), -32768);
  EXPECT_EQ(dap::le_i16(one), 1);
  const std::uint8_t all_ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(dap::le_u32(all_ones), 4294967295u);
  // Low word first: words 0x0002 then 0x0001.
  const std::uint8_t words[] = {0x02, 0x00, 0x01, 0x00};
  EXPECT_EQ(dap::le_u32(words), 65538u);
  std::uint8_t out[2];
  dap::put_le16(out, -2);
  EXPECT_EQ(out[0], 0xFE);
  EXPECT_EQ(out[1], 0xFF);
}

TEST(DaplPath, FortyEightCharactersFitTheEightyBytePath) {
  char path[dap::kPathBufferSize];
  const std::string name(48, 'n');
  ASSERT_TRUE(dap::dapl_path(path, sizeof path, name.c_str()));
  EXPECT_EQ(std::string(path), std::string(dap::kDaplDirectory) + name);
  EXPECT_FALSE(dap::dapl_path(path, sizeof path, (name + "x").c_str()));
  EXPECT_STREQ(path, "");
  ASSERT_TRUE(dap::dapl_path(path, sizeof path, std::string(44, 'n').c_str(), ".dap"));
  EXPECT_EQ(std::string(path).size(), 79u);
  EXPECT_FALSE(dap::dapl_path(path, sizeof path, std::string(45, 'n').c_str(), ".dap"));
}

TEST(TickDifference, IsCorrectAcrossWrapAround) {
  EXPECT_EQ(dap::tick_difference(5, 0xFFFFFFFBu), 10);
  EXPECT_EQ(dap::tick_difference(0xFFFFFFFBu, 5), -10);
  EXPECT_EQ(dap::tick_difference(0x80000000u, 0), INT32_MIN);
  EXPECT_EQ(dap::tick_difference(0x7FFFFFFFu, 0), INT32_MAX);
}

} // namespace
