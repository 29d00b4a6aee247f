// The interrupt guard and the channel session, in a plain process where the
// SIGINT handler runs on the thread that raised it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "dap_link/channel.h"
#include "dap_link/guard.h"
#include "dap_link/ticks.h"
#include "mex_stub.h"
#include "sim_control.h"

namespace {

std::atomic<int> g_host_interrupts{0};
void host_handler(int) { g_host_interrupts.fetch_add(1); }

using Handler = void (*)(int);

Handler current_sigint() {
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  return now.sa_handler;
}

int lowest_free_descriptor() {
  const int fd = open("/dev/null", O_RDONLY);
  close(fd);
  return fd;
}

class Guard : public ::testing::Test {
protected:
  void SetUp() override {
    simctl::command("reset");
    previous_ = signal(SIGINT, host_handler);
    g_host_interrupts = 0;
    mexstub::printed().clear();
    free_fd_ = lowest_free_descriptor();
  }
  void TearDown() override { signal(SIGINT, previous_); }
  Handler previous_ = nullptr;
  int free_fd_ = -1;
};

TEST_F(Guard, IsInForceOnlyForTheLengthOfTheSession) {
  {
    dap::GuardedSession session;
    EXPECT_EQ(current_sigint(), &ctrl_c);
    ASSERT_TRUE(session.open_both());
    EXPECT_EQ(fdDapTxt.load(), session.text());
    EXPECT_EQ(fdDapBin.load(), session.binary());
  }
  EXPECT_EQ(current_sigint(), &host_handler);
  EXPECT_EQ(fdDapTxt.load(), 0);
  EXPECT_EQ(lowest_free_descriptor(), free_fd_);
  auto kinds = simctl::trace();
  ASSERT_EQ(kinds.size(), 4u);
  EXPECT_NE(kinds[2].find("close accel0"), std::string::npos);
  EXPECT_NE(kinds[3].find("close accel1"), std::string::npos);
}

TEST_F(Guard, InstallingTwiceKeepsTheHostsDisposition) {
  mysig();
  mysig();
  EXPECT_EQ(old_handler.load(), &host_handler);
  restoresig();
  EXPECT_EQ(current_sigint(), &host_handler);
}

TEST_F(Guard, CtrlCLetsGoOfBinaryThenTextAndHandsTheInterruptOn) {
  {
    dap::GuardedSession session;
    ASSERT_TRUE(session.open_both());
    const int text = session.text();
    raise(SIGINT);
    EXPECT_TRUE(dap::interrupted());
    EXPECT_EQ(g_host_interrupts.load(), 1);
    EXPECT_EQ(session.text(), -1);
    EXPECT_EQ(session.binary(), -1);
    // The number stays reserved (now /dev/null), so the host cannot be handed
    // it while the command may still use it; and no device is behind it.
    EXPECT_NE(fcntl(text, F_GETFD), -1);
    EXPECT_EQ(DAPGetAvail(text), -1);
    // The handler is gone for the rest of the call: a second Ctrl-C goes to
    // the host directly.
    EXPECT_EQ(current_sigint(), &host_handler);
  }
  auto trace = simctl::trace();
  std::vector<std::string> events;
  for (auto &l : trace)
    events.push_back(l.substr(l.find(' ') + 1, l.find(' ', l.find(' ') + 1) - l.find(' ') - 1) +
                     (l.find("accel1") != std::string::npos ? "1" : "0"));
  std::vector<std::string> expected = {"open0", "open1", "release1", "release0"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(mexstub::printed(), "Closing binary and text channels to DAP.\n"
                                "Exiting MEX function.\n");
  EXPECT_EQ(lowest_free_descriptor(), free_fd_);
  EXPECT_EQ(current_sigint(), &host_handler);
}

TEST_F(Guard, CtrlCBeforeTheOpensClosesNothingAndOpensNothing) {
  {
    dap::GuardedSession session;
    raise(SIGINT);
    EXPECT_FALSE(session.open_text());
    EXPECT_FALSE(session.open_binary());
  }
  EXPECT_TRUE(simctl::trace_matching("accel").empty());
  EXPECT_EQ(g_host_interrupts.load(), 1);
  EXPECT_EQ(mexstub::printed(), "Closing binary and text channels to DAP.\n"
                                "Exiting MEX function.\n");
}

TEST_F(Guard, TextOnlyCallsNeverTouchAStaleBinaryDescriptor) {
  fdDapBin = free_fd_; // what an earlier call might have left
  dap::GuardedSession session;
  ASSERT_TRUE(session.open_text());
  const int other = open("/dev/null", O_RDONLY); // a host file on some number
  raise(SIGINT);
  EXPECT_TRUE(simctl::trace_matching("accel1").empty());
  EXPECT_EQ(fcntl(other, F_GETFD) >= 0, true);
  close(other);
}

TEST_F(Guard, NewCallStartsUninterrupted) {
  {
    dap::GuardedSession session;
    raise(SIGINT);
  }
  dap::GuardedSession session;
  EXPECT_FALSE(dap::interrupted());
  EXPECT_TRUE(session.open_both());
}

TEST_F(Guard, WaitsEndWithinATickOfCtrlC) {
  simctl::command("sigint tick 5");
  dap::GuardedSession session;
  ASSERT_TRUE(session.open_both());
  const auto start = dap::ticks_now();
  EXPECT_FALSE(dap::wait_ticks(1000));
  EXPECT_LE(dap::ticks_since(start), 7);
}

TEST_F(Guard, FailedBinaryOpenClosesTheTextChannel) {
  simctl::command("fault missing accel1 2");
  {
    dap::GuardedSession session;
    EXPECT_FALSE(session.open_both());
  }
  EXPECT_EQ(mexstub::printed(), "Error opening accel1, errno=2\n");
  EXPECT_EQ(simctl::trace_matching("close accel0").size(), 1u);
  EXPECT_EQ(lowest_free_descriptor(), free_fd_);
  EXPECT_EQ(current_sigint(), &host_handler);
}

// Descriptor 0 is no channel, but the open itself succeeded: the message
// gives errno 0 (the README explains it), never what an earlier call left.
TEST_F(Guard, ADescriptorZeroIsReportedWithErrnoZero) {
  simctl::command("fault openzero accel0");
  {
    dap::GuardedSession session;
    errno = ENOENT;
    EXPECT_FALSE(session.open_text());
  }
  EXPECT_EQ(mexstub::printed(), "Error opening accel0, errno=0\n");
  EXPECT_EQ(simctl::command("open"), "0");
}

TEST(GuardDefaultDisposition, CtrlCEndsTheProcessAfterBothLines) {
  simctl::command("reset");
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    signal(SIGINT, SIG_DFL);
    dap::GuardedSession session;
    session.open_both();
    raise(SIGINT);
    _exit(0); // not reached
  }
  close(out[1]);
  std::string printed;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    printed.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(printed, "Closing binary and text channels to DAP.\nExiting MEX function.\n");
}

TEST(GuardStandardOutput, LinesGoToStandardOutputAtOnce) {
  simctl::command("reset");
  mexstub::printed().clear();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const int saved = dup(STDOUT_FILENO);
  dup2(out[1], STDOUT_FILENO);
  Handler previous = signal(SIGINT, host_handler);
  {
    dap::GuardedSession session(dap::GuardOutput::standard_output);
    session.open_both();
    raise(SIGINT);
  }
  signal(SIGINT, previous);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(out[1]);
  char buffer[256];
  const ssize_t n = read(out[0], buffer, sizeof buffer);
  close(out[0]);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0),
            "Closing binary and text channels to DAP.\nExiting MEX function.\n");
  EXPECT_EQ(mexstub::printed(), "");
}

} // namespace
