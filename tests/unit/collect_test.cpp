// The shared collection loops, paced by the simulator's virtual clock.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
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

// A read that comes back short keeps what arrived: the record is completed by
// the next read, and every later record stays in frame.
TEST_F(Collect, AShortReadDoesNotShiftLaterRecords) {
  simctl::command("queue bin 01 00 aa bb 02 00 cc dd 03 00 ee ff");
  simctl::command("fault shortread accel1 3");
  std::vector<std::vector<int>> records;
  dap::collect_records(fd_, 4, dap::ticks_now(), 20, [&](const std::uint8_t *r) {
    records.push_back({r[0], r[1], r[2], r[3]});
  });
  EXPECT_EQ(records, (std::vector<std::vector<int>>{
                         {1, 0, 0xaa, 0xbb}, {2, 0, 0xcc, 0xdd}, {3, 0, 0xee, 0xff}}));
}

// A block is taken only when it is whole; the driver is asked once more as
// the wait gives up, so a block that is ready just then is not pushed into
// the next slot. A short read is completed, not left to shift later blocks.
TEST_F(Collect, BlocksAreTakenWholeAndAskedForOnceMoreAsTheWaitEnds) {
  double samples[3] = {0, 0, 0};
  const long now = std::stol(simctl::command("clock"));
  simctl::command("queue bin 010002000300 at " + std::to_string(now + 11));
  EXPECT_TRUE(dap::take_block(fd_, samples, 3, 10));
  EXPECT_EQ(std::vector<double>(samples, samples + 3), (std::vector<double>{1, 2, 3}));

  // A block that is there: the driver is asked twice, and it is read in one piece.
  simctl::command("queue bin 070008000900");
  simctl::command("trace clear");
  EXPECT_TRUE(dap::take_block(fd_, samples, 3, 10));
  const auto trace = simctl::trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_NE(trace[0].find("ioctl accel1 1 -> 0 value=6 x2"), std::string::npos) << trace[0];
  EXPECT_NE(trace[1].find("read accel1 6 -> 6"), std::string::npos) << trace[1];

  simctl::command("queue bin 040005000600");
  simctl::command("fault shortread accel1 5");
  EXPECT_TRUE(dap::take_block(fd_, samples, 3, 10));
  EXPECT_EQ(std::vector<double>(samples, samples + 3), (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(simctl::command("pending accel1"), "0");
}

// One record or word read in pieces by a short-reading driver is completed
// within its window; one still incomplete when the window closes keeps what
// came, and the closing read takes what is there then.
TEST_F(Collect, ARecordIsCompletedAcrossShortReadsWithinItsWindow) {
  struct Case {
    const char *queued;
    const char *fault;
    std::size_t got;
    std::vector<int> record;
  };
  const Case cases[] = {
      {"queue bin 10 00 f0 ff 07", "fault shortread accel1 3", 4, {0x10, 0, 0xf0, 0xff}},
      {"queue bin 01 02 03 04", "fault shortread accel1 1", 4, {1, 2, 3, 4}},
      {"queue bin 2c 01 05", "fault clear", 3, {0x2c, 1, 5, 0xee}},
  };
  for (const Case &c : cases) {
    simctl::command("reset");
    simctl::command(c.queued);
    simctl::command(c.fault);
    std::uint8_t record[4] = {0xee, 0xee, 0xee, 0xee};
    EXPECT_EQ(dap::take_record(fd_, record, 4, dap::ticks_now(), 20), c.got) << c.queued;
    EXPECT_EQ(std::vector<int>(record, record + 4), c.record) << c.queued;
  }
}

// Every window takes what arrives at its last tick and leaves what comes
// later: the last tick a loop still takes and the first it leaves.
TEST_F(Collect, WindowsEndExactlyAfterTheirLastTick) {
  constexpr std::int32_t kLast = 40;
  using Loop = std::function<bool(int fd, std::uint32_t start)>; // took the record?
  struct Case {
    const char *loop;
    Loop run;
    std::int32_t taken;
    std::int32_t left;
  };
  const Case cases[] = {
      {"collect_records",
       [](int fd, std::uint32_t start) {
         bool took = false;
         dap::collect_records(fd, 4, start, kLast, [&](const std::uint8_t *) { took = true; });
         return took;
       },
       kLast, kLast + 1},
      // The read that closes the window takes what is there by then.
      {"take_record",
       [](int fd, std::uint32_t start) {
         std::uint8_t record[4];
         return dap::take_record(fd, record, 4, start, kLast) == 4;
       },
       kLast + 1, kLast + 2},
      {"take_stream",
       [](int fd, std::uint32_t start) {
         std::uint8_t staging[8];
         return dap::take_stream(fd, staging, 8, 4, start, kLast,
                                 [](const std::uint8_t *, int, int) {}) == 4;
       },
       kLast, kLast + 1},
      {"wait_readable",
       [](int fd, std::uint32_t start) { return dap::wait_readable(fd, 4, start, kLast); }, kLast,
       kLast + 1},
  };
  for (const Case &c : cases)
    for (const std::int32_t at : {c.taken, c.left}) {
      simctl::command("reset");
      const std::uint32_t start = dap::ticks_now();
      simctl::command("queue bin 01020304 at " + std::to_string(start + at));
      EXPECT_EQ(c.run(fd_, start), at == c.taken) << c.loop << ", record at tick " << at;
    }
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

namespace {

std::vector<std::string> g_said;
void keep(const char *id, const char *message) {
  g_said.push_back(std::string(id) + " " + message);
}

// Results that lack what a failed read held must not pass for complete ones:
// the loops go on as before, and the call hears it once.
TEST_F(Collect, AReadThatFailsIsSaidOnce) {
  g_said.clear();
  dap::detail::set_warning_sink(keep);
  simctl::command("queue bin 0100020003000400");
  simctl::command("fault readfail accel1 EIO");
  int records = 0;
  dap::collect_records(fd_, 4, dap::ticks_now(), 5, [&](const std::uint8_t *) { ++records; });
  double samples[2] = {0, 0};
  dap::take_samples(fd_, samples, 2, dap::ticks_now(), 5);
  dap::detail::set_warning_sink(nullptr);
  EXPECT_EQ(records, 0);
  ASSERT_FALSE(g_said.empty());
  EXPECT_EQ(g_said[0], "dap:readFailed reading the binary channel failed (Input/output error): "
                       "the results lack what it held");
}

} // namespace
