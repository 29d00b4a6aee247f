// Children of the host that end during a call: the board loader's stand-in,
// and a child the scenario asks for. The host must see each end (SIGCHLD) as
// on a rig, and the call must return only once it has.
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sim_test_util.h"

namespace {

std::atomic<int> g_child_ends{0};

void count_child_end(int) { g_child_ends.fetch_add(1); }

class Children : public simtest::Board {
protected:
  void SetUp() override {
    simtest::Board::SetUp();
    struct sigaction counting {};
    counting.sa_handler = count_child_end;
    sigemptyset(&counting.sa_mask);
    counting.sa_flags = SA_RESTART;
    ::sigaction(SIGCHLD, &counting, &previous_);
    g_child_ends = 0;
  }
  void TearDown() override {
    ::sigaction(SIGCHLD, &previous_, nullptr);
    simtest::Board::TearDown();
  }

private:
  struct sigaction previous_ {};
};

constexpr char kLoader[] = "/usr/src/linux/drivers/dap/comload stimresp.bin -s1000";

int loader_exit_status() {
  const int status = std::system(kLoader);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Children, TheLoaderIsAChildOfTheHostAndItsExitDecidesTheLoad) {
  EXPECT_EQ(loader_exit_status(), 0);
  EXPECT_EQ(g_child_ends.load(), 1) << "the host saw no child end";
  EXPECT_EQ(simctl::command("loaded"), "1");
  simctl::command("loader exit 3");
  EXPECT_EQ(loader_exit_status(), 3);
  EXPECT_EQ(simctl::command("loaded"), "0") << "a failed load leaves no program";
  simctl::command("loader missing");
  EXPECT_EQ(loader_exit_status(), 127);
  EXPECT_EQ(simctl::command("loaded"), "0");
  EXPECT_EQ(g_child_ends.load(), 3);
  const std::string line = std::string("0 system \"") + kLoader + "\" -> ";
  EXPECT_EQ(simctl::trace_matching("system"),
            (std::vector<std::string>{line + "0", line + "3", line + "127"}));
  simctl::command("reset");
  EXPECT_EQ(simctl::command("loader"), "exit 0");
}

std::string contents(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(Children, TheBoardLoaderIsRecordedAndOtherCommandsRun) {
  EXPECT_EQ(simctl::command("loaded"), "0");
  EXPECT_EQ(std::system("/usr/src/linux/drivers/dap/comload stimresp.bin"), 0);
  EXPECT_EQ(simctl::command("loaded"), "1");
  EXPECT_EQ(simctl::trace(),
            std::vector<std::string>{
                "0 system \"/usr/src/linux/drivers/dap/comload stimresp.bin\" -> 0"});
  const int status = std::system("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

// The stand-in and its shell inherit the host's environment, simulator and
// all; a "reset" in DAPSIM_SCRIPT run there would empty the host's trace file.
TEST_F(Children, TheLoaderLeavesTheHostsScriptAndTraceFileAlone) {
  char trace_path[] = "/tmp/dapsim_trace_XXXXXX";
  char script_path[] = "/tmp/dapsim_script_XXXXXX";
  ::close(::mkstemp(trace_path));
  ::close(::mkstemp(script_path));
  std::ofstream(trace_path) << "0 the host's own event\n";
  std::ofstream(script_path) << "reset\n";
  const std::string errors_path = std::string(trace_path) + ".err";
  ::setenv("DAPSIM_TRACE", trace_path, 1);
  ::setenv("DAPSIM_SCRIPT", script_path, 1);
  const int status = std::system((std::string(kLoader) + " 2>" + errors_path).c_str());
  ::unsetenv("DAPSIM_TRACE");
  ::unsetenv("DAPSIM_SCRIPT");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(contents(trace_path), "0 the host's own event\n");
  EXPECT_EQ(contents(errors_path), "") << "the stand-in is quiet on success";
  std::remove(trace_path);
  std::remove(script_path);
  std::remove(errors_path.c_str());
}

TEST_F(Children, AChildEndsAtTheChosenOperationBeforeTheCallReturns) {
  const int bin = open_node("/dev/accel1");
  simctl::command("child op 3");
  int ready;
  EXPECT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(g_child_ends.load(), 0);
  EXPECT_EQ(::ioctl(bin, 1, &ready), 0);
  EXPECT_EQ(g_child_ends.load(), 1);
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "the child was left for the host to reap";
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(simctl::trace(),
            (std::vector<std::string>{"0 open accel1 fd=" + std::to_string(bin),
                                      "0 ioctl accel1 1 -> 0 value=0 x2", "0 child"}));
}

TEST_F(Children, AChildEndsAtItsTickAndAResetCancelsOneToCome) {
  simctl::command("child tick 2");
  simctl::command("advance 5");
  EXPECT_EQ(g_child_ends.load(), 1);
  EXPECT_EQ(simctl::trace_matching("child"), std::vector<std::string>{"2 child"});
  simctl::command("child tick 7");
  simctl::command("child op 1");
  simctl::command("reset");
  simctl::command("advance 10");
  open_node("/dev/accel0");
  EXPECT_EQ(g_child_ends.load(), 1);
}

} // namespace
