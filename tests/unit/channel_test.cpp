// The channel operations against the simulated driver.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "dap_link/channel.h"
#include "dap_link/ticks.h"
#include "sim_control.h"
#include "watchdog.h"

namespace {

std::vector<std::string> g_warnings;
void keep_warning(const char *id, const char *message) {
  g_warnings.push_back(std::string(id) + " " + message);
}

class ChannelOperations : public ::testing::Test {
protected:
  void SetUp() override {
    simctl::command("reset");
    text_ = open("/dev/accel0", O_RDWR);
    binary_ = open("/dev/accel1", O_RDWR);
    ASSERT_GT(text_, 0);
    ASSERT_GT(binary_, 0);
    simctl::command("trace clear");
    g_warnings.clear();
    dap::detail::set_warning_sink(keep_warning);
  }
  void TearDown() override {
    dap::detail::set_warning_sink(nullptr);
    close(text_);
    close(binary_);
    for (auto &f : files_)
      std::remove(f.c_str());
  }
  std::string file_with(const std::string &content) {
    std::string path =
        "/tmp/dap_channel_test_" + std::to_string(getpid()) + "_" + std::to_string(files_.size());
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    files_.push_back(path);
    return path;
  }
  std::string written_text() {
    auto bytes = simctl::written("accel0");
    return std::string(bytes.begin(), bytes.end());
  }
  int text_ = -1, binary_ = -1;
  std::vector<std::string> files_;
};

TEST_F(ChannelOperations, SendFileTurnsLineFeedsIntoCarriageReturns) {
  EXPECT_EQ(DAPSendFile(text_, file_with("A\nB\n").c_str()), 4);
  EXPECT_EQ(written_text(), "A\rB\r");
  // CR LF files reach the board with CR CR; nothing else changes.
  simctl::command("reset");
  EXPECT_EQ(DAPSendFile(text_, file_with("x\r\n\t\x01").c_str()), 5);
  EXPECT_EQ(written_text(), "x\r\r\t\x01");
}

TEST_F(ChannelOperations, SendFileWritesBlocksOfAtMost1024Bytes) {
  EXPECT_EQ(DAPSendFile(text_, file_with(std::string(2049, 'a')).c_str()), 2049);
  // The two identical full blocks share one trace line ("x2").
  auto writes = simctl::trace_matching("write accel0");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_NE(writes[0].find(" 1024 "), std::string::npos);
  EXPECT_EQ(writes[0].substr(writes[0].size() - 3), " x2");
  EXPECT_NE(writes[1].find(" 1 "), std::string::npos);
}

TEST_F(ChannelOperations, SendFileCountsWhatAShortWriteTookAndGoesOn) {
  simctl::command("fault shortwrite accel0 1000");
  EXPECT_EQ(DAPSendFile(text_, file_with(std::string(1024, 'a') + "bb").c_str()), 1002);
  EXPECT_EQ(written_text(), std::string(1000, 'a') + "bb");
}

TEST_F(ChannelOperations, SendFileOfNothingOrOfAMissingFileSendsNothing) {
  EXPECT_EQ(DAPSendFile(text_, file_with("").c_str()), 0);
  EXPECT_EQ(DAPSendFile(text_, "/nonexistent/dir/file.dap"), -1);
  EXPECT_TRUE(simctl::trace_matching("write").empty());
}

TEST_F(ChannelOperations, SendFileReportsAFailedWrite) {
  EXPECT_EQ(DAPSendFile(-1, file_with("abc").c_str()), -1);
}

TEST_F(ChannelOperations, SendFileLeavesNoDescriptorOpen) {
  const int before = open("/dev/null", O_RDONLY);
  close(before);
  DAPSendFile(text_, file_with("abc\n").c_str());
  DAPSendFile(-1, file_with("abc\n").c_str());
  const int after = open("/dev/null", O_RDONLY);
  close(after);
  EXPECT_EQ(before, after);
}

TEST_F(ChannelOperations, SendLineMakesExactlyOneWrite) {
  EXPECT_EQ(DAPSendLine(text_, "start shrtreca\r"), 15);
  EXPECT_EQ(DAPSendLine(text_, ""), 0);
  auto writes = simctl::trace_matching("write accel0");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(written_text(), "start shrtreca\r");
  EXPECT_EQ(DAPSendLine(-1, "x\r"), -1);
}

TEST_F(ChannelOperations, FlushOfASilentChannelAsksTwiceAroundOneSleep) {
  EXPECT_EQ(DAPFlush(binary_), 0);
  auto trace = simctl::trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_NE(trace[0].find("ioctl accel1 1"), std::string::npos);
  EXPECT_NE(trace[1].find("usleep 100000"), std::string::npos);
  EXPECT_NE(trace[2].find("ioctl accel1 1"), std::string::npos);
}

// A board that never stops sending must not hold a drain after Ctrl-C.
TEST_F(ChannelOperations, FlushAfterACtrlCStopsAtOnce) {
  simctl::command("queue bin 01 02 03");
  dap::detail::set_interrupted(true);
  const int drained = DAPFlush(binary_);
  dap::detail::set_interrupted(false);
  EXPECT_EQ(drained, 0);
  EXPECT_TRUE(simctl::trace_matching("usleep").empty());
}

TEST_F(ChannelOperations, FlushReadsInDrainSizedPieces) {
  simctl::command("queue bin " + std::string(2 * 4100, 'e'));
  EXPECT_EQ(DAPFlush(binary_), 4100);
  auto reads = simctl::trace_matching("read accel1");
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_NE(reads[0].find("2048 -> 2048"), std::string::npos);
  EXPECT_NE(reads[1].find("2048 -> 2048"), std::string::npos);
  EXPECT_NE(reads[2].find("4 -> 4"), std::string::npos);
  EXPECT_EQ(simctl::command("pending accel1"), "0");
}

// A drain always ends: a driver whose reads keep failing while it reports
// bytes ready, and a board that never stops sending, each end it with one
// warning, and the call goes on as after a drained channel.
TEST_F(ChannelOperations, FlushEndsWhenReadsKeepFailingOrDataNeverStops) {
  simctl::command("queue bin 0102030405060708");
  simctl::command("fault readfail accel1 EIO");
  DAPFlush(binary_);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0].rfind("dap:drainFailed ", 0), 0u) << g_warnings[0];

  simctl::command("fault clear");
  g_warnings.clear();
  DAPSendLine(text_, "pdef noise\rend\rstart noise\r");
  const auto start = dap::ticks_now();
  EXPECT_GT(DAPFlush(binary_), 900);
  EXPECT_LE(dap::ticks_since(start), 1100);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0].rfind("dap:drainBounded ", 0), 0u) << g_warnings[0];
}

// However large a regular file is, a transfer ends at the bound, with a
// warning, long before it could fill the host's memory or hold the call.
TEST_F(ChannelOperations, SendFileStopsAtItsBound) {
  const std::string huge = file_with("");
  ASSERT_EQ(truncate(huge.c_str(), 17L * 1024 * 1024), 0);
  EXPECT_EQ(DAPSendFile(text_, huge.c_str()), 16 * 1024 * 1024);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0].rfind("dap:transferBounded ", 0), 0u) << g_warnings[0];
}

// Only a regular file is a program: a FIFO without a writer (which would
// hold the open for good), a device or a folder is refused at once, said
// like a missing program, and nothing is sent.
TEST_F(ChannelOperations, SendFileSendsOnlyRegularFiles) {
  const std::string fifo = file_with("");
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string &path : {fifo, std::string("/dev/zero"), std::string("/tmp")}) {
    g_warnings.clear();
    const testsupport::Watchdog bound(std::chrono::seconds(10),
                                      "sending " + path + " (opened blocking, or read for ever)");
    EXPECT_EQ(DAPSendFile(text_, path.c_str()), -1) << path;
    ASSERT_EQ(g_warnings.size(), 1u) << path;
    EXPECT_EQ(g_warnings[0], "dap:programNotFound DAPL program \"" + path +
                                 "\" could not be sent: not a regular file");
  }
  EXPECT_TRUE(simctl::trace_matching("write").empty());
}

// A write the driver refuses, or takes only part of, is said once per call
// with the channel, what was being sent and why; the results stay as the
// system call gave them.
TEST_F(ChannelOperations, RefusedWritesAreSaidOncePerCall) {
  dap::detail::name_channel(text_, "accel0");
  dap::detail::name_channel(binary_, "accel1");
  simctl::command("fault writefail accel0 EIO");
  EXPECT_EQ(DAPSendLine(text_, "start spikera,spikerb\r"), -1);
  EXPECT_EQ(DAPSendLine(text_, "stop spikerb\r"), -1);
  dap::reset_board(text_, binary_);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0], "dap:writeFailed writing the line \"start spikera,spikerb\\r\" to "
                           "accel0 failed: Input/output error");
  const std::uint8_t table[4] = {1, 2, 3, 4};
  const std::string program = file_with("a\nb\n");
  const std::string file = "DAPL program \"" + program + "\" to accel0 ";
  const struct {
    const char *fault;
    std::function<int()> send;
    int result;
    std::string said;
  } cases[] = {
      {"fault shortwrite accel1 0", [&] { return DAPWrite(binary_, table, 4); }, 0,
       "a table of 4 bytes to accel1 took 0 of 4 bytes"},
      {"fault writefail accel1 ENOSPC", [&] { return DAPWrite(binary_, table, 4); }, -1,
       "a table of 4 bytes to accel1 failed: No space left on device"},
      {"fault shortwrite accel0 3", [&] { return DAPSendFile(text_, program.c_str()); }, 3,
       file + "took 3 of 4 bytes"},
      {"fault writefail accel0 EIO", [&] { return DAPSendFile(text_, program.c_str()); }, -1,
       file + "failed: Input/output error"},
      {"fault shortwrite accel0 1", [&] { return DAPSendLine(text_, "\x01\"x\"\r"); }, 1,
       "the line \"\\x01\\\"x\\\"\\r\" to accel0 took 1 of 5 bytes"},
  };
  for (const auto &c : cases) {
    simctl::command("fault clear");
    simctl::command(c.fault);
    g_warnings.clear();
    dap::detail::set_warning_sink(keep_warning); // a new call
    EXPECT_EQ(c.send(), c.result) << c.fault;
    ASSERT_EQ(g_warnings.size(), 1u) << c.fault;
    EXPECT_EQ(g_warnings[0], "dap:writeFailed writing " + c.said);
  }
  // A channel no session named is known by its number.
  dap::detail::name_channel(text_, nullptr);
  dap::detail::set_warning_sink(keep_warning);
  g_warnings.clear();
  DAPSendLine(text_, "x\r");
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_NE(g_warnings[0].find(" to descriptor " + std::to_string(text_) + " "), std::string::npos)
      << g_warnings[0];
  dap::detail::name_channel(binary_, nullptr);
  // A write that Ctrl-C kept from being made is nothing to hear about.
  dap::detail::set_warning_sink(keep_warning);
  g_warnings.clear();
  dap::detail::set_interrupted(true);
  EXPECT_EQ(DAPSendLine(text_, "x\r"), -1);
  dap::detail::set_interrupted(false);
  EXPECT_TRUE(g_warnings.empty());
}

// A program that cannot be sent is said so, with the path and the reason;
// nothing reaches the board, as before.
TEST_F(ChannelOperations, SendFileSaysWhichProgramCouldNotBeOpenedOrRead) {
  EXPECT_EQ(DAPSendFile(text_, "/no/such/file.dap"), -1);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0], "dap:programNotFound DAPL program \"/no/such/file.dap\" could not "
                           "be opened: No such file or directory");
  EXPECT_TRUE(simctl::written("accel0").empty());
}

TEST_F(ChannelOperations, QueriesReportFailureAsMinusOne) {
  simctl::command("queue bin 01 02 03 04 05");
  EXPECT_EQ(DAPGetAvail(binary_), 5);
  EXPECT_EQ(DAPPutAvail(-1), -1);
  EXPECT_EQ(DAPGetAvail(-1), -1);
  EXPECT_EQ(DAPAccelVersion(-1), -1);
  EXPECT_EQ(DAPSetTimeout(-1, 10), -1);
  EXPECT_EQ(DAPSetTimeout(binary_, 10), 0);
  EXPECT_GT(DAPAccelVersion(text_), 0);
  // A positive return from the driver is not success, whatever the value.
  simctl::command("fault ioctl accel1 1 positive 7");
  EXPECT_EQ(DAPGetAvail(binary_), -1);
  simctl::command("fault ioctl accel1 2 fail 5");
  EXPECT_EQ(DAPPutAvail(binary_), -1);
}

TEST_F(ChannelOperations, ResetSequenceSendsTheLineThenDrainsTextThenBinary) {
  dap::reset_board(text_, binary_);
  EXPECT_EQ(written_text(), "\rRESET\r");
  auto trace = simctl::trace();
  ASSERT_GE(trace.size(), 7u);
  EXPECT_NE(trace[1].find("ioctl accel0"), std::string::npos);
  EXPECT_NE(trace.back().find("ioctl accel1"), std::string::npos);
}

TEST_F(ChannelOperations, DaplFilesComeFromTheDaplDirectoryAndNamesTooLongSendNothing) {
  const int sent = dap::send_dapl_file(text_, "lab.dap");
  const std::string from_directory = written_text();
  EXPECT_GT(sent, 0);
  simctl::command("reset");
  EXPECT_EQ(DAPSendFile(text_, "/home/labrig/matlab/intrfc/dap/lab.dap"), sent);
  EXPECT_EQ(written_text(), from_directory);
  // 48 characters fill the 80-byte path; one more would be written past it.
  simctl::command("reset");
  EXPECT_EQ(dap::send_dapl_file(text_, std::string(49, 'n').c_str()), -1);
  EXPECT_EQ(written_text(), "");
}

} // namespace
