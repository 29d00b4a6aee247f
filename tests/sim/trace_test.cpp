// The trace: merged events, and its file, which reads the same even after
// the process that wrote it died.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <signal.h>

#include "sim_test_util.h"

namespace {

class Trace : public simtest::Board {};

TEST_F(Trace, IdenticalEventsMerge) {
  const int bin = open_node("/dev/accel1");
  int ready;
  for (int i = 0; i < 12; ++i)
    ::ioctl(bin, 1, &ready);
  ::close(bin);
  const auto lines = simctl::trace();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "0 ioctl accel1 1 -> 0 value=0 x12");
  EXPECT_EQ(lines[2], "0 close accel1");
  simctl::command("trace clear");
  EXPECT_TRUE(simctl::trace().empty());
}

// Run in a child process by the test below, with DAPSIM_TRACE set: it leaves
// the trace in the middle of a merged event and dies of SIGINT.
TEST(TraceFileWriter, DISABLED_DiesInTheMiddleOfARun) {
  const int bin = ::open("/dev/accel1", O_RDWR);
  int ready;
  for (int i = 0; i < 3; ++i)
    ::ioctl(bin, 1, &ready);
  simctl::command("sigint op 4");
  ::signal(SIGINT, SIG_DFL);
  ::ioctl(bin, 1, &ready);
  std::abort(); // not reached
}

// Ends normally right after a long run of one merged event.
TEST(TraceFileWriter, DISABLED_ExitsAfterARepeatedEvent) {
  const int bin = ::open("/dev/accel1", O_RDWR);
  int ready;
  for (int i = 0; i < 5000; ++i)
    ::ioctl(bin, 1, &ready);
  std::exit(0);
}

// Runs past the length of the trace kept in memory.
TEST(TraceFileWriter, DISABLED_OutrunsTheTraceInMemory) {
  for (int i = 1; i <= 200005; ++i)
    ::usleep(static_cast<useconds_t>(i));
  for (int i = 0; i < 10; ++i)
    ::usleep(7);
  std::exit(0);
}

// The trace file a child running TraceFileWriter.<name> leaves behind, after
// a line of its own from an earlier process, with the descriptor number cut.
std::string child_trace_file(const std::string &name) {
  char path[] = "/tmp/dapsim_trace_XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0)
    return "mkstemp failed";
  ::close(fd);
  {
    std::ofstream stale(path);
    stale << "earlier process\n";
  }
  const std::string command = "DAPSIM_TRACE=" + std::string(path) + " /proc/" +
                              std::to_string(::getpid()) +
                              "/exe --gtest_also_run_disabled_tests "
                              "--gtest_filter=TraceFileWriter." +
                              name + " >/dev/null 2>&1";
  std::system(command.c_str());
  std::ifstream in(path);
  std::stringstream contents;
  contents << in.rdbuf();
  std::remove(path);
  std::string text = contents.str();
  // The child's descriptor number is its own business.
  const auto fd_at = text.find("fd=");
  if (fd_at != std::string::npos)
    text.erase(fd_at + 3, text.find('\n', fd_at) - fd_at - 3);
  return text;
}

TEST_F(Trace, TheTraceFileReadsLikeTheTraceEvenAfterTheProcessDied) {
  const std::string died = child_trace_file("DISABLED_DiesInTheMiddleOfARun");
  EXPECT_EQ(died, "earlier process\n"
                  "0 open accel1 fd=\n"
                  "0 ioctl accel1 1 -> 0 value=0 x4\n"
                  "0 sigint\n");
  // The count of a long run is brought up to date when the process ends.
  const std::string exited = child_trace_file("DISABLED_ExitsAfterARepeatedEvent");
  EXPECT_EQ(exited, "earlier process\n"
                    "0 open accel1 fd=\n"
                    "0 ioctl accel1 1 -> 0 value=0 x5000\n");
  // Beyond what memory keeps, the file still has every event, merged alike.
  const std::string long_run = child_trace_file("DISABLED_OutrunsTheTraceInMemory");
  EXPECT_EQ(std::count(long_run.begin(), long_run.end(), '\n'), 1 + 200005 + 1);
  const std::string last = "2000110 usleep 7 x10\n";
  ASSERT_GE(long_run.size(), last.size());
  EXPECT_EQ(long_run.substr(long_run.size() - last.size()), last);
}

} // namespace
