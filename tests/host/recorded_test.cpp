// A session recorded on the MATLAB-like host, on the simulated board, where
// the Ctrl-C reached the command's own handler in the middle of a device
// call (the interrupt guard lets go of the channels there), then played back
// on the same host: every call the board saw is in the file, the replay is
// exact, and the next command gets what it got when it was recorded.
//
// The script runs in a child of this test (the recorder must be preloaded
// as the process starts): this binary again, running only the disabled
// test below, told its part by DAP_HOST_SESSION_PART.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mex_host.h"
#include "session.h"
#include "sim_control.h"

extern char **environ;

namespace {

using mexhost::Array;
using mexhost::Plugin;

std::string plugin_path(const std::string &name) {
  const char *dir = std::getenv("DAP_HOST_PLUGIN_DIR");
  return std::string(dir != nullptr ? dir : DAP_HOST_PLUGIN_DIR) + "/" + name + ".mex";
}

// The device operations in the board's trace, as it counts them.
long device_operations() {
  long n = 0;
  for (const auto &line : simctl::trace()) {
    std::istringstream in(line);
    std::string tick, event, node;
    in >> tick >> event >> node;
    static const std::vector<std::string> kCounted = {"open",  "read",    "write",
                                                      "ioctl", "release", "close"};
    if (node.rfind("accel", 0) != 0 ||
        std::find(kCounted.begin(), kCounted.end(), event) == kCounted.end())
      continue;
    const auto x = line.rfind(" x");
    n += x != std::string::npos && line.find_first_not_of("0123456789", x + 2) == std::string::npos
             ? std::stol(line.substr(x + 2))
             : 1;
  }
  return n;
}

// PairSend, with a Ctrl-C by signal after its 5th device operation when
// recorded (a replay brings it where the file says), then SwpOffset.
// Writes what the board saw and SwpOffset's result to DAP_HOST_SESSION_OUT.
TEST(RecordedSession, DISABLED_Script) {
  const char *part = std::getenv("DAP_HOST_SESSION_PART");
  ASSERT_NE(part, nullptr);
  mexhost::install_sigint_handler();
  auto call = [](const std::string &name, int nargout, const std::vector<Array> &args = {}) {
    Plugin plugin(plugin_path(name));
    return plugin.call(nargout, args);
  };
  call("PairInit", 0);
  call("PairStart", 0);
  if (std::string(part) == "record")
    simctl::command("sigint op " + std::to_string(device_operations() + 5));
  std::vector<double> ramp(3000);
  for (std::size_t i = 0; i < ramp.size(); ++i)
    ramp[i] = static_cast<double>(i);
  const auto sent = call("PairSend", 0, {Array::matrix(ramp.size(), 1, ramp)});
  EXPECT_EQ(mexhost::sigint_handler_runs(), 1);
  mexhost::clear_interrupt();
  mexhost::install_sigint_handler();
  call("SwpInit", 0);
  const auto offset = call("SwpOffset", 1);
  ASSERT_TRUE(offset.returned && offset.results[0].has_value()) << offset.error_message;
  std::ofstream out(std::getenv("DAP_HOST_SESSION_OUT"));
  out << "operations " << device_operations() << "\noffset";
  for (const double v : offset.results[0]->values)
    out << " " << v;
  out << "\n";
}

struct Part {
  int status = -1;
  std::string said; // what the child wrote
};

// This binary's script, in a child whose environment has `more` ahead of
// the rest and the recorder, when `recorder`, ahead of the board.
Part run_script(const std::string &part, const std::vector<std::string> &more, bool recorder) {
  Part run;
  const std::string out =
      ::testing::TempDir() + "dap_host_session_" + part + std::to_string(getpid());
  std::vector<std::string> env = more;
  env.push_back("DAP_HOST_SESSION_PART=" + part);
  env.push_back("DAP_HOST_SESSION_OUT=" + out);
  for (char **e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    // The recorder goes in just ahead of the board: a sanitizer's runtime,
    // when there is one, must stay first.
    if (recorder && entry.rfind("LD_PRELOAD=", 0) == 0) {
      const auto board = entry.find("libdapsim");
      const auto at =
          board == std::string::npos ? 11 : std::max(entry.rfind(':', board) + 1, std::size_t{11});
      entry.insert(at, std::string(DAP_RECORDER_LIBRARY) + ":");
    }
    if (entry.rfind("DAPREC_", 0) != 0 && entry.rfind("DAPSIM_REPLAY", 0) != 0)
      env.push_back(entry);
  }
  std::vector<char *> envp;
  for (auto &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execle("/proc/self/exe", "host_tests", "--gtest_also_run_disabled_tests",
           "--gtest_filter=RecordedSession.DISABLED_Script", nullptr, envp.data());
    _exit(127);
  }
  waitpid(pid, &run.status, 0);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  run.said = text.str();
  std::remove(out.c_str());
  return run;
}

TEST(RecordedSession, ACtrlCMidCallReplaysExactAndTheNextCommandAsRecorded) {
  const std::string session = ::testing::TempDir() + "dap_host_session" + std::to_string(getpid());
  const Part rig = run_script("record", {"DAPREC_FILE=" + session}, true);
  ASSERT_EQ(rig.status, 0) << rig.said;

  dapsession::Session s;
  std::string error;
  ASSERT_TRUE(dapsession::read_session(session, &s, &error)) << error;
  long calls = 0;
  for (const auto &r : s.records)
    if (r.node < 2)
      calls += static_cast<long>(r.repeats);
  std::istringstream said(rig.said);
  std::string word;
  long operations = -1;
  said >> word >> operations;
  EXPECT_EQ(calls, operations) << "the board saw " << operations << " calls, the file holds "
                               << calls;

  const std::string verdict = session + ".verdict";
  const Part replay =
      run_script("replay", {"DAPSIM_REPLAY=" + session, "DAPSIM_REPLAY_VERDICT=" + verdict}, false);
  EXPECT_EQ(replay.status, 0);
  std::ifstream(verdict) >> word;
  EXPECT_EQ(word, "exact");
  const auto offset = [](const std::string &text) { return text.substr(text.find("offset")); };
  ASSERT_NE(rig.said.find("offset"), std::string::npos);
  ASSERT_NE(replay.said.find("offset"), std::string::npos);
  EXPECT_EQ(offset(replay.said), offset(rig.said));
  std::remove(verdict.c_str());
  std::remove(session.c_str());
}

} // namespace
