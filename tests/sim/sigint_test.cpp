// Interrupts the simulator injects, and how it waits for the host's handler.
#include <pthread.h>
#include <signal.h>

#include <sys/times.h>

#include <atomic>
#include <thread>

#include "sim_test_util.h"

namespace {

// What the interrupt guard does: let go of the channels by pointing their
// numbers at /dev/null, then put the previous disposition back.
std::atomic<int> g_channels[2];
std::atomic<int> g_handled{0};
std::atomic<pthread_t> g_handler_thread;

void let_go(int) {
  g_handler_thread.store(pthread_self());
  for (auto &slot : g_channels) {
    const int fd = slot.exchange(0);
    if (fd <= 0)
      continue;
    const int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, fd);
    ::close(null_fd);
  }
  ::signal(SIGINT, SIG_IGN);
  g_handled.fetch_add(1);
}

class Interrupts : public simtest::Board {
protected:
  void SetUp() override {
    simtest::Board::SetUp();
    previous_ = ::signal(SIGINT, let_go);
    g_handled = 0;
    txt = open_node("/dev/accel0");
    bin = open_node("/dev/accel1");
    g_channels[0] = bin;
    g_channels[1] = txt;
  }
  void TearDown() override {
    ::signal(SIGINT, previous_);
    simtest::Board::TearDown();
  }
  int txt = -1;
  int bin = -1;

private:
  void (*previous_)(int) = SIG_DFL;
};

TEST_F(Interrupts, AtAnOperationTheHandlerHasRunWhenTheCallReturns) {
  // Two opens so far; the interrupt follows the fourth operation.
  simctl::command("sigint op 4");
  int ready;
  EXPECT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(g_handled.load(), 0);
  EXPECT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_TRUE(pthread_equal(g_handler_thread.load(), pthread_self()));
  const auto lines = simctl::trace();
  ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[2], "0 ioctl accel1 1 -> 0 value=0 x2");
  EXPECT_EQ(lines[3], "0 sigint");
  EXPECT_EQ(lines[4], "0 release accel1 fd=" + std::to_string(bin));
  EXPECT_EQ(lines[5], "0 release accel0 fd=" + std::to_string(txt));
  EXPECT_EQ(simctl::command("sigint"), "ignore");
}

// A real Ctrl-C can land while this very thread is inside a device call, with
// the model locked; the handler letting go of the channels must not wait for
// that lock (it would wait for ever).
TEST_F(Interrupts, AHandlerThatInterruptsADeviceCallLetsGoWithoutHanging) {
  simctl::command("sigint op 3 within");
  int ready;
  EXPECT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_EQ(simctl::command("open"), "0");
  EXPECT_EQ(::ioctl(bin, 1, &ready), -1); // /dev/null now, not the board
  const auto lines = simctl::trace();
  ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[3], "0 sigint within");
  EXPECT_EQ(lines[4], "0 release accel1 fd=" + std::to_string(bin));
  EXPECT_EQ(lines[5], "0 release accel0 fd=" + std::to_string(txt));
}

TEST_F(Interrupts, AtATickDuringACollectionWindow) {
  simctl::command("sigint tick 30");
  struct tms unused;
  const clock_t start = ::times(&unused);
  int ready = 0;
  while (::times(&unused) - start < 100)
    if (::ioctl(bin, 1, &ready) != 0)
      break;
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_EQ(simctl::command("clock"), "30") << "the loop ends at the first failed query";
  EXPECT_EQ(simctl::trace_matching("sigint"), std::vector<std::string>{"30 sigint"});
}

TEST_F(Interrupts, AHostThatBlocksSigintStillSeesItsHandlerRun) {
  sigset_t interrupt, before;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &interrupt, &before), 0);
  simctl::command("rule \"start x\" after 0 sigint");
  simtest::send(txt, "pdef x\rend\rstart x\r");
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_FALSE(pthread_equal(g_handler_thread.load(), pthread_self()));
  EXPECT_EQ(simctl::command("open"), "0");
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGINT)) << "the interrupt must not wait for this thread";
}

TEST_F(Interrupts, AnIgnoredInterruptCostsNothing) {
  ::signal(SIGINT, SIG_IGN);
  simctl::command("sigint op 1");
  int ready;
  EXPECT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(g_handled.load(), 0);
  EXPECT_EQ(simctl::command("open"), "2");
}

} // namespace

namespace {

TEST_F(Interrupts, HostDeliveryIsAPlainCtrlCThatTheHostsOwnThreadMayTake) {
  // Like Octave: this thread blocks SIGINT and another one waits for it.
  sigset_t interrupt, before;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &interrupt, &before), 0);
  std::atomic<int> taken{0};
  std::thread watcher([&] {
    int signal_number = 0;
    if (sigwait(&interrupt, &signal_number) == 0)
      taken = signal_number;
  });
  simctl::command("sigint op 3 host");
  int ready;
  EXPECT_EQ(::ioctl(bin, 1, &ready), 0);
  watcher.join();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  EXPECT_EQ(taken.load(), SIGINT);
  EXPECT_EQ(g_handled.load(), 0) << "a host that takes the signal itself runs no handler";
  EXPECT_EQ(simctl::command("open"), "2");
  EXPECT_EQ(simctl::trace_matching("sigint"), std::vector<std::string>{"0 sigint host"});
}

TEST_F(Interrupts, HostDeliveryToAThreadThatAcceptsItRunsTheHandlerThere) {
  simctl::command("sigint tick 2 host");
  simctl::command("advance 5");
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_TRUE(pthread_equal(g_handler_thread.load(), pthread_self()));
}

} // namespace

namespace {

TEST_F(Interrupts, AnInterruptCutsASleepShortAtItsTick) {
  simctl::command("sigint tick 30");
  errno = 0;
  EXPECT_EQ(::usleep(1000000), -1);
  EXPECT_EQ(errno, EINTR);
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_EQ(simctl::command("clock"), "30");
  ::signal(SIGINT, let_go); // the handler put "ignore" in its place
  simctl::command("sigint tick 40");
  const struct timespec second = {1, 0};
  struct timespec left = {};
  EXPECT_EQ(::nanosleep(&second, &left), -1);
  EXPECT_EQ(left.tv_sec, 0);
  EXPECT_EQ(left.tv_nsec, 900000000L);
  // An ignored interrupt does not cut a sleep short.
  simctl::command("sigint tick 45");
  EXPECT_EQ(::usleep(100000), 0);
  EXPECT_EQ(simctl::command("clock"), "50");
}

} // namespace
