#include "dap_link/sigint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace {

std::atomic<int> g_ours{0};
std::atomic<int> g_before{0};

void ours(int) { g_ours.fetch_add(1); }
void before(int) { g_before.fetch_add(1); }
void before_info(int, siginfo_t *, void *) { g_before.fetch_add(1); }

struct sigaction current() {
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  return now;
}

// Puts a known disposition in place for a test and the original back after it.
class SigintHandlerTest : public ::testing::Test {
protected:
  void SetUp() override {
    sigaction(SIGINT, nullptr, &saved_);
    g_ours = 0;
    g_before = 0;
  }
  void TearDown() override { sigaction(SIGINT, &saved_, nullptr); }
  void install_before(int flags) {
    struct sigaction action {};
    if (flags & SA_SIGINFO)
      action.sa_sigaction = before_info;
    else
      action.sa_handler = before;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGUSR1);
    action.sa_flags = flags;
    sigaction(SIGINT, &action, nullptr);
  }
  struct sigaction saved_ {};
};

TEST_F(SigintHandlerTest, EveryInterruptOfTheCallReachesTheHandlerNotTheOneBefore) {
  install_before(0);
  dap::SigintHandler held(ours);
  ASSERT_TRUE(held.installed());
  raise(SIGINT);
  raise(SIGINT);
  EXPECT_EQ(g_ours.load(), 2);
  EXPECT_EQ(g_before.load(), 0);
}

TEST_F(SigintHandlerTest, EndOfScopeReinstatesHandlerFlagsAndMaskExactly) {
  install_before(SA_SIGINFO | SA_RESTART);
  { dap::SigintHandler held(ours); }
  const struct sigaction now = current();
  EXPECT_EQ(now.sa_sigaction, before_info);
  EXPECT_TRUE(now.sa_flags & SA_SIGINFO);
  EXPECT_TRUE(now.sa_flags & SA_RESTART);
  EXPECT_EQ(sigismember(&now.sa_mask, SIGUSR1), 1);
  raise(SIGINT);
  EXPECT_EQ(g_before.load(), 1);
  EXPECT_EQ(g_ours.load(), 0);
}

TEST_F(SigintHandlerTest, ErrorLeavingTheCallStillReinstatesTheDefault) {
  signal(SIGINT, SIG_DFL);
  try {
    dap::SigintHandler held(ours);
    throw std::runtime_error("usage");
  } catch (const std::runtime_error &) {
  }
  EXPECT_EQ(current().sa_handler, SIG_DFL);
}

TEST_F(SigintHandlerTest, EarlyRestoreIsFinalAndLeavesErrnoAlone) {
  signal(SIGINT, SIG_IGN);
  dap::SigintHandler held(ours);
  errno = ENOENT;
  held.restore();
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(held.installed());
  EXPECT_EQ(current().sa_handler, SIG_IGN);
  // A disposition set after the restore is not overwritten by a second one.
  signal(SIGINT, before);
  held.restore();
  EXPECT_EQ(current().sa_handler, before);
}

} // namespace
