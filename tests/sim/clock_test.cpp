// The virtual tick clock and what it drives.
#include <pthread.h>
#include <signal.h>
#include <sys/times.h>
#include <time.h>

#include <thread>

#include "sim_test_util.h"

namespace {

using simtest::send;

class Clock : public simtest::Board {};

long now_ticks() {
  struct tms unused;
  return static_cast<long>(::times(&unused));
}

TEST_F(Clock, TimesMovesOneTickEveryFourReadsAndSleepsMoveByTheirLength) {
  EXPECT_EQ(now_ticks(), 0);
  EXPECT_EQ(now_ticks(), 0);
  EXPECT_EQ(now_ticks(), 0);
  EXPECT_EQ(now_ticks(), 1);
  EXPECT_EQ(::usleep(100000), 0);
  EXPECT_EQ(simctl::command("clock"), "11");
  const struct timespec quarter = {0, 250000000};
  EXPECT_EQ(::nanosleep(&quarter, nullptr), 0);
  EXPECT_EQ(simctl::command("clock"), "36");
  // Sub-tick sleeps add up instead of being lost.
  for (int i = 0; i < 4; ++i)
    ::usleep(2500);
  EXPECT_EQ(simctl::command("clock"), "37");
  simctl::command("clock virtual 1");
  EXPECT_EQ(now_ticks(), 38);
  EXPECT_EQ(
      simctl::trace_matching("sleep"),
      (std::vector<std::string>{"1 usleep 100000", "11 nanosleep 250000000", "36 usleep 2500 x4"}));
}

TEST_F(Clock, ATickWaitOfAThousandTicksEndsOnTheClockNotTheWall) {
  const long start = now_ticks();
  long polls = 0;
  while (now_ticks() - start < 1000)
    ++polls;
  EXPECT_EQ(simctl::command("clock"), "1000");
  EXPECT_EQ(polls, 3998);
}

TEST_F(Clock, BadSleepsFailLikeTheCLibrary) {
  const struct timespec bad = {0, 1000000000L};
  errno = 0;
  EXPECT_EQ(::nanosleep(&bad, nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(simctl::command("clock"), "0");
}

TEST_F(Clock, ScheduledDataArrivesWhenTheClockPassesItsTick) {
  const int bin = open_node("/dev/accel1");
  simctl::command("queue bin 0102 at 50");
  simctl::command("queue text \"late\\r\\n\" at 80");
  int ready = -1;
  simctl::command("advance 49");
  ASSERT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(ready, 0);
  ::usleep(10000);
  ASSERT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(ready, 2);
  // A long sleep passes through several events at once.
  ::usleep(10 * 1000000);
  EXPECT_EQ(simctl::command("pending accel0"), "6");
  EXPECT_EQ(simctl::command("clock"), "1050");
}

// Runs the same little session and returns its trace.
std::vector<std::string> scenario() {
  simctl::command("reset");
  simctl::command("seed 7");
  simctl::command("queue bin 0a0b at 3");
  simctl::command("rule \"start loopback\" after 2 text \"ok\\r\\n\"");
  const int txt = ::open("/dev/accel0", O_RDWR);
  const int bin = ::open("/dev/accel1", O_RDWR);
  send(txt, "pdef loopback\rend\rstart loopback\r");
  unsigned char buffer[64];
  const long start = now_ticks();
  while (now_ticks() - start < 10) {
    int ready = 0;
    if (::ioctl(bin, 1, &ready) == 0 && ready >= 2) {
      EXPECT_EQ(::read(bin, buffer, 2), 2);
    }
  }
  const unsigned char ping[] = {1, 2, 3};
  EXPECT_EQ(::write(bin, ping, 3), 3);
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 3);
  ::usleep(50000);
  ::close(txt);
  ::close(bin);
  return simctl::trace();
}

TEST_F(Clock, TheSameScenarioGivesTheSameTrace) {
  const auto first = scenario();
  const auto second = scenario();
  EXPECT_EQ(first, second);
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(simctl::trace_matching("read accel1 2 -> 2").size(), 1u);
}

TEST_F(Clock, RealModeFollowsTheProcessClock) {
  simctl::command("clock real");
  const long before = now_ticks();
  ::usleep(30000);
  EXPECT_GE(now_ticks() - before, 2);
  std::string reply;
  EXPECT_FALSE(simctl::try_command("advance 5", &reply));
  simctl::command("clock virtual");
  const long tick = std::stol(simctl::command("clock"));
  EXPECT_GE(tick, 2);
  EXPECT_EQ(simctl::command("advance 5"), std::to_string(tick + 5));
}

void note_interrupt(int) {}

TEST_F(Clock, ASignalCutsARealSleepShort) {
  simctl::command("clock real");
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = note_interrupt;
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  const pthread_t sleeper = ::pthread_self();
  std::thread waker([sleeper] {
    const struct timespec moment = {0, 20000000};
    ::nanosleep(&moment, nullptr);
    ::pthread_kill(sleeper, SIGUSR1);
  });
  errno = 0;
  const int rc = ::usleep(900000);
  const int error = errno;
  waker.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(error, EINTR);
}

TEST_F(Clock, AdvancingAndSleepingWithoutEndStopTheClockRatherThanOverflowIt) {
  for (int i = 0; i < 1000; ++i)
    simctl::command("advance 1099511627776");
  const std::string far = simctl::command("clock");
  EXPECT_EQ(far, std::to_string((std::int64_t{1} << 62) / 10000));
  const struct timespec years = {100000000, 0};
  EXPECT_EQ(::nanosleep(&years, nullptr), 0);
  EXPECT_EQ(simctl::command("advance 1"), far);
  EXPECT_EQ(now_ticks(), std::stol(far));
}

} // namespace
