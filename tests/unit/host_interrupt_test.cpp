// Interrupts a host takes itself: Octave raises its flags from a thread of its
// own, another host answers an interrupt query. A guarded call must act on a
// pending Ctrl-C before its next device operation, whichever way it came, and
// must not mistake any other signal (a child process ending) for one.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "dap_link/channel.h"
#include "dap_link/guard.h"
#include "dap_link/ticks.h"
#include "host_flags.h"
#include "mex_stub.h"
#include "sim_control.h"

namespace {

constexpr char kGuardLines[] = "Closing binary and text channels to DAP.\nExiting MEX function.\n";

enum class Way { octave_flag, interrupt_query };

void press_ctrl_c(Way way) {
  if (way == Way::octave_flag)
    hostflags::set_octave(1, 1);
  else
    hostflags::set_query(true);
}

class HostInterrupt : public ::testing::TestWithParam<Way> {
protected:
  void SetUp() override {
    simctl::command("reset");
    hostflags::clear();
    mexstub::printed().clear();
  }
  void TearDown() override { hostflags::clear(); }
};

TEST_F(HostInterrupt, AChildProcessEndingIsNotACtrlC) {
  {
    dap::GuardedSession session;
    ASSERT_TRUE(session.open_both());
    hostflags::set_octave(0, 1);
    EXPECT_FALSE(dap::interrupted());
    EXPECT_EQ(DAPSendLine(session.text(), "start x\r"), 8);
    EXPECT_TRUE(dap::wait_ticks(2));
  }
  EXPECT_EQ(mexstub::printed(), "");
  EXPECT_TRUE(simctl::trace_matching("release").empty());
}

TEST_P(HostInterrupt, GuardedCallTouchesNoDeviceAfterCtrlC) {
  {
    dap::GuardedSession session;
    ASSERT_TRUE(session.open_both());
    const int text = session.text();
    const int binary = session.binary();
    simctl::command("trace clear");
    press_ctrl_c(GetParam());
    // Every kind of operation, on descriptors the command kept from before.
    EXPECT_EQ(DAPSendLine(text, "start x\r"), -1);
    EXPECT_EQ(DAPSendFile(text, "/home/labrig/matlab/intrfc/dap/opstim.dap"), -1);
    EXPECT_EQ(DAPGetAvail(binary), -1);
    EXPECT_EQ(DAPPutAvail(binary), -1);
    EXPECT_EQ(DAPFlush(binary), 0);
    std::uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(DAPWrite(binary, b, sizeof b), -1);
    EXPECT_EQ(DAPRead(binary, b, sizeof b), -1);
    EXPECT_TRUE(dap::interrupted());
  }
  EXPECT_EQ(mexstub::printed(), kGuardLines);
  const auto trace = simctl::trace();
  ASSERT_EQ(trace.size(), 2u) << ::testing::PrintToString(trace);
  EXPECT_NE(trace[0].find("release accel1"), std::string::npos);
  EXPECT_NE(trace[1].find("release accel0"), std::string::npos);
  EXPECT_TRUE(simctl::written("accel0").empty());
}

TEST_P(HostInterrupt, UnguardedCallSendsNothingMoreAndPrintsNothing) {
  {
    dap::ChannelSession session;
    ASSERT_TRUE(session.open_both());
    press_ctrl_c(GetParam());
    EXPECT_TRUE(dap::interrupted());
    EXPECT_EQ(DAPSendLine(session.text(), "start x\r"), -1);
  }
  EXPECT_EQ(mexstub::printed(), "");
  EXPECT_TRUE(simctl::written("accel0").empty());
  EXPECT_EQ(simctl::command("open"), "0");
}

// Octave may still hold an earlier Ctrl-C as a call begins (it counts them
// until it acts); that one is not this call's, but a new one still ends it.
TEST_F(HostInterrupt, ACtrlCAfterOneTheHostStillHeldEndsTheCall) {
  hostflags::set_octave(1, 1);
  dap::GuardedSession session;
  ASSERT_TRUE(session.open_both());
  EXPECT_FALSE(dap::interrupted());
  hostflags::set_octave(2, 1);
  EXPECT_TRUE(dap::interrupted());
  EXPECT_EQ(session.text(), -1);
}

INSTANTIATE_TEST_SUITE_P(BothWays, HostInterrupt,
                         ::testing::Values(Way::octave_flag, Way::interrupt_query),
                         [](const ::testing::TestParamInfo<Way> &way) {
                           return way.param == Way::octave_flag ? std::string("OctaveFlag")
                                                                : std::string("InterruptQuery");
                         });

// A host handler installed with flags and a mask of its own.
volatile sig_atomic_t g_host_siginfo_calls = 0;
void host_siginfo_handler(int, siginfo_t *info, void *) {
  if (info != nullptr)
    g_host_siginfo_calls = g_host_siginfo_calls + 1;
}

// Only the signals a mask can hold are compared: the C library leaves the
// rest of a sigset_t it reads back as it finds it.
bool same_action(const struct sigaction &a, const struct sigaction &b) {
  if (a.sa_sigaction != b.sa_sigaction || a.sa_flags != b.sa_flags)
    return false;
  for (int s = 1; s < NSIG; ++s)
    if (sigismember(&a.sa_mask, s) != sigismember(&b.sa_mask, s))
      return false;
  return true;
}

TEST(GuardDisposition, TheHostsWholeSigactionComesBackAndGetsTheInterrupt) {
  simctl::command("reset");
  mexstub::printed().clear();
  struct sigaction host {};
  host.sa_sigaction = host_siginfo_handler;
  host.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&host.sa_mask);
  sigaddset(&host.sa_mask, SIGUSR2);
  struct sigaction saved {};
  ASSERT_EQ(sigaction(SIGINT, &host, &saved), 0);
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);

  { dap::GuardedSession quiet; }
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_TRUE(same_action(before, after)) << "flags " << after.sa_flags;

  g_host_siginfo_calls = 0;
  {
    dap::GuardedSession session;
    ASSERT_TRUE(session.open_both());
    raise(SIGINT);
  }
  EXPECT_EQ(g_host_siginfo_calls, 1);
  sigaction(SIGINT, nullptr, &after);
  EXPECT_TRUE(same_action(before, after)) << "flags " << after.sa_flags;
  sigaction(SIGINT, &saved, nullptr);
}

// The host's own SA_SIGINFO handler for one test, its calls counted from 0;
// the disposition before it comes back at the end.
class HostHandler {
public:
  HostHandler() {
    struct sigaction host {};
    host.sa_sigaction = host_siginfo_handler;
    host.sa_flags = SA_SIGINFO;
    sigemptyset(&host.sa_mask);
    EXPECT_EQ(sigaction(SIGINT, &host, &saved_), 0);
    g_host_siginfo_calls = 0;
  }
  ~HostHandler() { sigaction(SIGINT, &saved_, nullptr); }
  HostHandler(const HostHandler &) = delete;
  HostHandler &operator=(const HostHandler &) = delete;

private:
  struct sigaction saved_ {};
};

// While system() runs a program, the C library ignores SIGINT in the host:
// a Ctrl-C at the terminal ends only the program (here a shell that kills
// itself the same way). The call must still end as after any Ctrl-C.
TEST(GuardedProgram, AProgramEndedByCtrlCEndsTheCall) {
  simctl::command("reset");
  mexstub::printed().clear();
  const HostHandler host;
  {
    dap::GuardedSession session;
    session.run_program("kill -INT $$");
    EXPECT_TRUE(dap::interrupted());
    EXPECT_FALSE(session.open_both());
    session.run_program("exit 3");
  }
  EXPECT_EQ(g_host_siginfo_calls, 1);
  EXPECT_EQ(mexstub::printed(), kGuardLines);
  EXPECT_EQ(simctl::command("open"), "0");
}

// A Ctrl-C already pending as the program starts must not be thrown away, as
// system() does when it ignores SIGINT: the call ends as after any Ctrl-C,
// and the host still gets its interrupt.
TEST(GuardedProgram, ACtrlCPendingAsTheProgramStartsEndsTheCall) {
  simctl::command("reset");
  mexstub::printed().clear();
  const HostHandler host;
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
  raise(SIGINT);
  {
    dap::GuardedSession session;
    EXPECT_EQ(session.run_program("exit 3"), 3 << 8);
    EXPECT_TRUE(dap::interrupted());
    EXPECT_FALSE(session.open_both());
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  EXPECT_EQ(g_host_siginfo_calls, 1);
  EXPECT_EQ(mexstub::printed(), kGuardLines);
  EXPECT_EQ(simctl::command("open"), "0");
}

std::atomic<int> g_child_notices{0};
void count_child_notice(int) { g_child_notices.fetch_add(1); }

// The end of the program the call runs is the call's own: a host that took
// its SIGCHLD would answer it after the call returns (Octave then ignores
// SIGINT for a moment, throwing away a Ctrl-C pending then). The end of a
// child of the host's own, meanwhile, still reaches the host.
TEST(GuardedProgram, OnlyTheHostsOwnChildrenAreHeardOf) {
  simctl::command("reset");
  struct sigaction count {};
  count.sa_handler = count_child_notice;
  sigemptyset(&count.sa_mask);
  struct sigaction saved {};
  sigaction(SIGCHLD, &count, &saved);
  g_child_notices = 0;
  {
    dap::GuardedSession session;
    EXPECT_EQ(session.run_program("exit 3"), 3 << 8);
  }
  EXPECT_EQ(g_child_notices.load(), 0);

  const pid_t hosts_own = fork();
  if (hosts_own == 0) {
    pause();
    _exit(0);
  }
  {
    // The host's child ends while the call waits for its program.
    dap::GuardedSession session;
    const std::string child = std::to_string(hosts_own);
    session.run_program(("kill " + child + "; while read -r p n s r < /proc/" + child +
                         "/stat && [ \"$s\" != Z ]; do :; done")
                            .c_str());
  }
  EXPECT_GE(g_child_notices.load(), 1);
  int status = -1;
  EXPECT_EQ(waitpid(hosts_own, &status, 0), hosts_own);
  sigaction(SIGCHLD, &saved, nullptr);
}

} // namespace
