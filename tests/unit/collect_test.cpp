// The shared collection loops, paced by the simulator's virtual clock.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "dap_link/collect.h"
#include "sim_control.h"

namespace {

class Collect : public ::testing::Test {
protected:
  void SetUp() override {
    simctl::command("reset");
    fd_ = open("/dev/accel1", O_RDWR);
    ASSERT_GT(fd_, 0);
  }
  void TearDown() override { close(fd_); }
  int fd_ = -1;
};

TEST_F(Collect, TickWaitLastsAtLeastItsTicks) {
  const auto start = dap::ticks_now();
  EXPECT_TRUE(dap::wait_ticks(10));
  const auto waited = dap::ticks_since(start);
  EXPECT_GE(waited, 10);
  EXPECT_LE(waited, 11);
}

TEST_F(Collect, WaitReadableEndsWhenTheBytesAreThereOrTheWindowCloses) {
  simctl::command("queue bin 01 02 03 04 at 30");
  auto start = dap::ticks_now();
  EXPECT_TRUE(dap::wait_readable(fd_, 4, start, 1000));
  EXPECT_GE(dap::ticks_since(start), 29);
  EXPECT_LE(dap::ticks_since(start), 31);
  start = dap::ticks_now();
  EXPECT_FALSE(dap::wait_readable(fd_, 5, start, 1000));
  EXPECT_EQ(dap::ticks_since(start), 1001);
}

TEST_F(Collect, RecordsAreTakenWholeAndOnlyWhileTheWindowIsOpen) {
  simctl::command("queue bin 01 00 02 00 03");
  simctl::command("queue bin 00 04 00 at 50");
  simctl::command("queue bin 05 00 06 00 at 200");
  std::vector<int> firsts;
  dap::collect_records(fd_, 4, dap::ticks_now(), 99,
                       [&](const std::uint8_t *r) { firsts.push_back(r[0]); });
  EXPECT_EQ(firsts, (std::vector<int>{1, 3}));
  EXPECT_EQ(simctl::command("pending accel1"), "0");
  // The late record stays in the driver for the next collection.
  simctl::command("advance 200");
  EXPECT_EQ(simctl::command("pending accel1"), "4");
}

TEST_F(Collect, StreamChunksCarryTheirOffsetAndStopAtTheTotal) {
  simctl::command("queue bin " + std::string(2 * 5000, '1'));
  std::vector<std::pair<int, int>> chunks;
  std::uint8_t staging[2048];
  const int counted = dap::take_stream(
      fd_, staging, sizeof staging, 4100, dap::ticks_now(), 1000,
      [&](const std::uint8_t *, int n, int offset) { chunks.emplace_back(offset, n); });
  EXPECT_EQ(counted, 4100);
  EXPECT_EQ(chunks, (std::vector<std::pair<int, int>>{{0, 2048}, {2048, 2048}, {4096, 4}}));
  EXPECT_EQ(simctl::command("pending accel1"), "900");
}

TEST_F(Collect, StreamWindowClosesAfterMoreThanItsLastTick) {
  std::uint8_t staging[16];
  const auto start = dap::ticks_now();
  EXPECT_EQ(dap::take_stream(fd_, staging, sizeof staging, 100, start, 1000,
                             [](const std::uint8_t *, int, int) {}),
            0);
  EXPECT_EQ(dap::ticks_since(start), 1001);
}

TEST_F(Collect, ShortReadsAdvanceOnlyByWhatArrived) {
  simctl::command("queue bin 01 02 03 04 05 06");
  simctl::command("fault shortread accel1 4");
  std::uint8_t staging[16];
  std::vector<std::pair<int, int>> chunks;
  dap::take_stream(
      fd_, staging, sizeof staging, 6, dap::ticks_now(), 10,
      [&](const std::uint8_t *, int n, int offset) { chunks.emplace_back(offset, n); });
  EXPECT_EQ(chunks, (std::vector<std::pair<int, int>>{{0, 4}, {4, 2}}));
}

} // namespace
