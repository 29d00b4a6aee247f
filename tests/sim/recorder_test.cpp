// The session recorder on top of the simulated board: each call is noted at
// the tick the host last saw, a call the system refused for its buffer is
// noted by its outcome alone (and replays), and a session file that cannot
// be written ends the recording there, said once.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "session.h"
#include "sim_test_util.h"

extern char **environ;

namespace {

using dapsession::Kind;

struct Recording {
  int status = -1;
  std::string said; // standard error
  std::string session;
  std::vector<std::string> trace;
};

// The probe's `what`, recorded: the recorder goes in ahead of the board.
// `more`: more of the environment (a board script, a replay), ahead of the
// rest; `recorder`: whether it is there at all; `input`: its standard input;
// `meanwhile`: what the test does while it runs.
Recording record(const std::string &what, std::vector<std::string> more = {}, bool recorder = true,
                 int input = -1, const std::function<void()> &meanwhile = {}) {
  const std::string base = ::testing::TempDir() + "daprec_" + what + std::to_string(getpid());
  Recording run;
  run.session = base + ".ses";
  const std::string trace = base + ".trace";
  std::string preload = getenv("LD_PRELOAD") != nullptr ? getenv("LD_PRELOAD") : "";
  const auto board = preload.find("libdapsim");
  const auto at = board == std::string::npos ? 0 : preload.rfind(':', board) + 1;
  if (recorder)
    preload.insert(at, std::string(DAP_RECORDER_LIBRARY) + ":");
  std::vector<std::string> env = more;
  env.insert(env.end(), {"LD_PRELOAD=" + preload, "DAPREC_FILE=" + run.session,
                         what == "ticks" ? "DAPSIM_TRACE=" + trace : "DAPSIM_TRACE="});
  for (char **e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("LD_PRELOAD=", 0) != 0 && std::string(*e).rfind("DAP", 0) != 0)
      env.push_back(*e);
  std::vector<char *> envp;
  for (auto &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0)
    return run;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(err[1], 2);
    if (input >= 0)
      dup2(input, 0);
    const char *probe = DAP_RECORDER_PROBE;
    execle(probe, probe, what.c_str(), nullptr, envp.data());
    _exit(127);
  }
  close(err[1]);
  if (meanwhile)
    meanwhile();
  char chunk[512];
  for (ssize_t n; (n = read(err[0], chunk, sizeof chunk)) > 0;)
    run.said.append(chunk, static_cast<std::size_t>(n));
  close(err[0]);
  waitpid(pid, &run.status, 0);
  std::ifstream lines(trace);
  for (std::string line; std::getline(lines, line);)
    run.trace.push_back(line);
  std::remove(trace.c_str());
  return run;
}

dapsession::Session read_back(const std::string &path) {
  dapsession::Session s;
  std::string error;
  EXPECT_TRUE(dapsession::read_session(path, &s, &error)) << error;
  return s;
}

TEST(Recorder, NotesEachCallAtTheTickTheHostLastSaw) {
  const Recording run = record("ticks");
  ASSERT_EQ(run.status, 0) << run.said;
  std::vector<std::int64_t> recorded, traced;
  for (const auto &r : read_back(run.session).records)
    if (r.kind == Kind::write || r.kind == Kind::ioctl)
      recorded.insert(recorded.end(), r.repeats, r.tick);
  for (const auto &line : run.trace) {
    const auto space = line.find(' ');
    const bool digits =
        space != 0 && space != std::string::npos && line.find_first_not_of("0123456789") == space;
    if (digits && (line.compare(space, 14, " write accel0 ") == 0 ||
                   line.compare(space, 14, " ioctl accel1 ") == 0))
      traced.push_back(std::stoll(line.substr(0, space)));
  }
  EXPECT_EQ(recorded.size(), 80u);
  EXPECT_EQ(recorded, traced);
  EXPECT_GT(traced.back(), 15);
  std::remove(run.session.c_str());
}

// A handler that ran, an interrupt query that turned true and each rise of
// Octave's count, noted once between the two requests it came between.
TEST(Recorder, NotesWhereACtrlCReachedTheHostAndHow) {
  const Recording run = record("ctrl-c");
  ASSERT_EQ(run.status, 0) << run.said;
  std::string seen;
  for (const auto &r : read_back(run.session).records)
    seen +=
        std::string(dapsession::kind_name(r.kind)) +
        (r.kind == Kind::interrupt ? std::string(" ") + dapsession::interrupt_name(r.result) : "") +
        (r.repeats > 1 ? " x" + std::to_string(r.repeats) : "") + ", ";
  EXPECT_NE(seen.find("ioctl, interrupt handler, ioctl, interrupt query, ioctl x3, interrupt "
                      "octave, ioctl x3, interrupt octave, ioctl, close"),
            std::string::npos)
      << seen;
  std::remove(run.session.c_str());
}

// A handler that lets go of a channel in the middle of a request, and one
// that runs inside times(): each call is noted as the call it was, then the
// Ctrl-C, then the release, at the tick the command saw; the file replays
// exact.
TEST(Recorder, NotesTheCallAHandlerInterruptedThenItsRelease) {
  const std::string script = ::testing::TempDir() + "daprec_script" + std::to_string(getpid());
  std::ofstream(script) << "sigint op 4\nsigint tick 50\n";
  const Recording run = record("release", {"DAPSIM_SCRIPT=" + script});
  ASSERT_EQ(run.status, 0) << run.said;
  std::string seen;
  std::uint64_t requests = 0;
  for (const auto &r : read_back(run.session).records) {
    requests += r.kind == Kind::ioctl ? r.repeats : 0;
    if (r.kind != Kind::clock)
      seen += std::string(dapsession::kind_name(r.kind)) +
              (r.node < 2 ? std::string(" ") + dapsession::node_name(r.node) : "") + " " +
              std::to_string(r.tick) + ", ";
  }
  EXPECT_EQ(requests, 2u) << seen;
  EXPECT_NE(seen.find("ioctl accel1 -1, interrupt -1, release accel1 -1, interrupt 50, release "
                      "accel0 50, open accel0 50, write accel0 50, close accel0 50"),
            std::string::npos)
      << seen;

  const std::string verdict = run.session + ".verdict";
  const Recording replay = record(
      "release", {"DAPSIM_REPLAY=" + run.session, "DAPSIM_REPLAY_VERDICT=" + verdict}, false);
  EXPECT_EQ(replay.status, 0) << replay.said;
  std::ifstream said(verdict);
  std::string word;
  said >> word;
  EXPECT_EQ(word, "exact") << replay.said;
  std::remove(verdict.c_str());
  std::remove(script.c_str());
  std::remove(run.session.c_str());
}

// A second process that finds the file taken says once which process holds
// it; the holder's own children (a shell, the loader) stay silent.
TEST(Recorder, ASecondRecorderSaysWhoHoldsTheFile) {
  int input[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  Recording second;
  const Recording holder = record("hold", {}, true, input[0], [&] {
    close(input[0]);
    const std::string file =
        ::testing::TempDir() + "daprec_hold" + std::to_string(getpid()) + ".ses";
    // The board's clock is virtual here: poll() waits in real time.
    for (int i = 0; i < 500 && std::ifstream(file, std::ios::ate).tellg() < 16; ++i)
      poll(nullptr, 0, 10);
    second = record("child", {"DAPREC_FILE=" + file});
    close(input[1]);
  });
  EXPECT_EQ(holder.status, 0) << holder.said;
  EXPECT_EQ(second.status, 0) << second.said;
  EXPECT_EQ(holder.said.find("daprec:"), std::string::npos) << holder.said;
  const std::string said = "daprec: " + holder.session + " is being recorded by process ";
  const auto at = second.said.find(said);
  ASSERT_NE(at, std::string::npos) << second.said;
  EXPECT_NE(second.said.find(" (recorder_probe); process ", at), std::string::npos) << second.said;
  EXPECT_EQ(second.said.find("daprec:"), second.said.rfind("daprec:")) << second.said;
  std::remove(holder.session.c_str());
}

class RecorderReplay : public simtest::Board {};

TEST_F(RecorderReplay, NotesARefusedBufferByItsOutcomeAloneAndPlaysItBack) {
  const Recording run = record("refused");
  ASSERT_EQ(run.status, 0) << run.said;  // no crash on the request's argument
  const auto s = read_back(run.session); // every record as long as it says
  std::vector<std::string> seen;
  for (const auto &r : s.records)
    seen.push_back(std::string(dapsession::kind_name(r.kind)) + " " + std::to_string(r.result) +
                   " e" + std::to_string(r.error) + " " + std::to_string(r.data.size()));
  const std::vector<std::string> expected = {"open 5 e0 0",  "open 6 e0 0",   "write -1 e14 0",
                                             "write 8 e0 8", "read -1 e14 0", "ioctl -1 e25 0",
                                             "ioctl 0 e0 0", "close 0 e0 0",  "close 0 e0 0"};
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(seen.begin() + 2, seen.end()),
            std::vector<std::string>(expected.begin() + 2, expected.end()));

  simctl::command("replay " + run.session);
  const int text = open_node("/dev/accel0");
  const int binary = open_node("/dev/accel1");
  void *volatile nothing = nullptr;
  int value = 0;
  errno = 0;
  EXPECT_EQ(::write(text, nothing, 8), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(::write(text, "start x\r", 8), 8);
  EXPECT_EQ(::read(binary, nothing, 16), -1);
  errno = 0;
  EXPECT_EQ(::ioctl(binary, 77, reinterpret_cast<void *>(5)), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(simtest::query(binary, 1, &value), 0);
  close_node(text);
  close_node(binary);
  EXPECT_EQ(simctl::trace_matching("replay differs"), std::vector<std::string>{});
  std::remove(run.session.c_str());
}

// Threads that let go of a device while others are inside a call: every
// release is held back and written, none lost or written twice.
TEST(Recorder, WritesEveryReleaseHeldBackFromManyThreads) {
  const Recording run = record("threads");
  ASSERT_EQ(run.status, 0) << run.said;
  std::uint64_t opens = 0, closes = 0;
  for (const auto &r : read_back(run.session).records)
    if (r.node == 1) {
      opens += r.kind == Kind::open ? r.repeats : 0;
      closes += r.kind == Kind::close ? r.repeats : 0;
    }
  EXPECT_EQ(opens, 80001u);
  EXPECT_EQ(closes, 80001u);
  std::remove(run.session.c_str());
}

// More releases in one call than can be held back: the board says it lost
// one; the recorder writes its extra one at once rather than lose it.
TEST(Recorder, SaysWhenAHandlerLetsGoOfMoreThanCanBeHeldBack) {
  const std::string script = ::testing::TempDir() + "daprec_many" + std::to_string(getpid());
  std::ofstream(script) << "sigint op 20 within\n"; // the request after 19 opens
  const Recording run = record("many", {"DAPSIM_SCRIPT=" + script});
  ASSERT_EQ(run.status, 0) << run.said;
  EXPECT_NE(run.said.find("dapsim: 1 device release(s) by a signal handler lost"),
            std::string::npos)
      << run.said;
  std::uint64_t releases = 0;
  for (const auto &r : read_back(run.session).records)
    releases += r.kind == Kind::release && r.node == 1 ? r.repeats : 0;
  EXPECT_EQ(releases, 17u);
  std::remove(script.c_str());
  std::remove(run.session.c_str());
}

// Inside a long call with no device closed, what was recorded reaches the
// file within a second.
TEST(Recorder, HandsItsRecordsToTheKernelAtLeastOnceASecond) {
  const Recording run = record("long");
  EXPECT_EQ(run.status, 0) << run.said;
  std::remove(run.session.c_str());
}

TEST(Recorder, StopsWithOneMessageWhenTheFileCannotBeWritten) {
  const Recording run = record("fsize");
  ASSERT_EQ(run.status, 0) << run.said; // the calls still go through
  const std::string said = "daprec: cannot write the session file " + run.session +
                           ": File too large (errno 27); recording stopped, ";
  const auto at = run.said.find(said);
  ASSERT_NE(at, std::string::npos) << run.said;
  const std::string kept = run.said.substr(at + said.size());
  ASSERT_NE(kept.find(" bytes kept"), std::string::npos) << run.said;
  EXPECT_EQ(run.said.find("daprec:"), run.said.rfind("daprec:")) << run.said;
  // The file ends at its last whole block with the mark, and nothing came
  // after the failure, though the limit was lifted: no gap.
  std::ifstream file(run.session, std::ios::binary | std::ios::ate);
  EXPECT_EQ(static_cast<long long>(file.tellg()), std::stoll(kept));
  EXPECT_LE(file.tellg(), 200);
  // Of the records waiting in memory, those that fit were kept.
  const auto s = read_back(run.session);
  EXPECT_EQ(s.stopped_error, EFBIG);
  EXPECT_GT(std::count_if(s.records.begin(), s.records.end(),
                          [](const dapsession::Record &r) { return r.kind == Kind::write; }),
            0);
  std::remove(run.session.c_str());
}

} // namespace
