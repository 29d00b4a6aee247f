// The stimulus tasks of the simulated board: how fast they take tables from
// the binary channel and what they play on a0 and a1.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dap_link/channel.h"
#include "sim_control.h"

namespace {

std::vector<int> played(const char *output) {
  std::istringstream in(simctl::command(std::string("played ") + output));
  std::vector<int> values;
  for (int v; in >> v;)
    values.push_back(v);
  return values;
}

std::vector<std::uint8_t> table_of(const std::vector<int> &entries) {
  std::vector<std::uint8_t> bytes;
  for (int e : entries) {
    const unsigned u = static_cast<std::uint16_t>(e);
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFFu));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

std::vector<int> every_other(const std::vector<int> &entries, std::size_t first) {
  std::vector<int> out;
  for (std::size_t i = first; i < entries.size(); i += 2)
    out.push_back(entries[i]);
  return out;
}

class StimulusTasks : public ::testing::Test {
protected:
  void SetUp() override {
    simctl::command("reset");
    text_ = open("/dev/accel0", O_RDWR);
    binary_ = open("/dev/accel1", O_RDWR);
    ASSERT_GT(text_, 0);
    ASSERT_GT(binary_, 0);
  }
  void TearDown() override {
    close(text_);
    close(binary_);
  }
  void write_table(const std::vector<int> &entries) {
    const std::vector<std::uint8_t> bytes = table_of(entries);
    ASSERT_EQ(DAPWrite(binary_, bytes.data(), bytes.size()), static_cast<int>(bytes.size()));
  }
  int text_ = -1, binary_ = -1;
};

std::vector<int> ramp(int n, int from) {
  std::vector<int> v;
  for (int i = 0; i < n; ++i)
    v.push_back(from + 7 * i);
  return v;
}

TEST_F(StimulusTasks, PairProgramDrainsTheBinaryInputAtASteadyRateAndPlaysPairs) {
  ASSERT_GT(DAPSendFile(text_, "/home/labrig/matlab/intrfc/dap/twpls.dap"), 0);
  const std::vector<int> entries = ramp(2048, -5000);
  write_table(entries);
  EXPECT_EQ(DAPPutAvail(binary_), 0);
  simctl::command("advance 10");
  const int after_10 = DAPPutAvail(binary_);
  EXPECT_GT(after_10, 0);
  EXPECT_LT(after_10, 4096);
  simctl::command("advance 10");
  EXPECT_EQ(DAPPutAvail(binary_), 2 * after_10) << "the rate is steady";
  simctl::command("advance 1000");
  EXPECT_EQ(DAPPutAvail(binary_), 4096);
  EXPECT_EQ(played("a0"), every_other(entries, 0));
  EXPECT_EQ(played("a1"), every_other(entries, 1));
}

TEST_F(StimulusTasks, PairFeederAloneStopsTakingOnceItsPipeIsFull) {
  ASSERT_GT(DAPSendFile(text_, "/home/labrig/matlab/intrfc/dap/twpls.dap"), 0);
  DAPSendLine(text_, "stop twplsb\r");
  write_table(ramp(2048, 0));
  simctl::command("advance 1000");
  const int room = DAPPutAvail(binary_);
  EXPECT_GT(room, 0);
  EXPECT_LT(room, 4096);
  simctl::command("advance 1000");
  EXPECT_EQ(DAPPutAvail(binary_), room);
  EXPECT_TRUE(played("a0").empty());
}

TEST_F(StimulusTasks, WaveOutputPlaysOnlyWholeTablesSplitBetweenA0AndA1) {
  for (const char *line : {"pdef elstima\r", "separate ($binin,opipe(0,1))\r", "end\r",
                           "odef elstimb 2\r", "outputwait 602\r", "update burst\r", "set op0 a0\r",
                           "set op1 a1\r", "time 5\r", "end\r", "START\r"})
    DAPSendLine(text_, line);
  const std::vector<int> first = ramp(602, -2000);
  const std::vector<int> second = ramp(602, 3000);
  std::vector<int> both = first;
  both.insert(both.end(), second.begin(), second.end());

  // Half a table waits for the rest; written in odd-sized pieces, the entries
  // still come out whole and in order.
  const std::vector<std::uint8_t> bytes = table_of(both);
  ASSERT_EQ(DAPWrite(binary_, bytes.data(), 601), 601);
  simctl::command("advance 5");
  EXPECT_TRUE(played("a0").empty());
  ASSERT_EQ(DAPWrite(binary_, bytes.data() + 601, bytes.size() - 601),
            static_cast<int>(bytes.size() - 601));
  simctl::command("advance 5");
  EXPECT_EQ(played("a0"), every_other(both, 0));
  EXPECT_EQ(played("a1"), every_other(both, 1));

  // STOP ends the output; a table sent after it is not played.
  DAPSendLine(text_, "STOP\r");
  write_table(first);
  simctl::command("advance 5");
  EXPECT_EQ(played("a0").size(), 602u);
}

} // namespace
