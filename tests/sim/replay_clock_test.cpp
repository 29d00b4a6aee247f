// The clock in a replay's verdict: values read past the recording went on
// the simulated clock, not the rig's.
#include <fcntl.h>
#include <sys/times.h>
#include <unistd.h>

#include <cstdio>

#include "session.h"
#include "sim_test_util.h"

namespace {

class ReplayClock : public simtest::Board {};

TEST_F(ReplayClock, ReadsPastTheRecordingAreNotExactAndUnreadOnesAreSaid) {
  const std::string path = ::testing::TempDir() + "clock" + std::to_string(getpid()) + ".ses";
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    dapsession::Recording w(fd, dapsession::kDefaultLimit, 100, ::write);
    w.open(dapsession::kAccel0, 5, 3, 0);
    w.clock(5);
    w.clock(6);
    w.close(dapsession::kAccel0, 6, 0, 0);
    w.finish();
    ::close(fd);
  }
  auto verdict = [&](int clock_reads) {
    simctl::command("replay " + path);
    const int text = open_node("/dev/accel0");
    struct tms unused;
    for (int i = 0; i < clock_reads; ++i)
      ::times(&unused);
    close_node(text);
    ::testing::internal::CaptureStderr();
    simctl::command("replay off");
    return ::testing::internal::GetCapturedStderr();
  };
  const std::string head = "dapsim: replay of " + path + ": ";
  EXPECT_EQ(verdict(2), head + "exact: 2 of 2 recorded calls played, 0 differences\n");
  EXPECT_EQ(verdict(4), head + "NOT exact: 2 of 2 recorded calls played, 0 differences; the "
                               "clock read 2 times past the end of the recording\n");
  EXPECT_EQ(verdict(1), head + "exact: 2 of 2 recorded calls played, 0 differences; 1 recorded "
                               "clock values left unread\n");
  std::remove(path.c_str());
}

} // namespace
