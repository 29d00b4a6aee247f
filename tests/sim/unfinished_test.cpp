// A recording whose process was killed: the file is read up to its last
// whole block and said to be unfinished; dapsession checks, shows and cuts
// it; a replay plays it, and says that calls after its end were not checked.
// Damage before the end is still refused, and named by its bytes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "session.h"
#include "sim_test_util.h"

extern char **environ;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

// `command` through the shell, with `env` added to the test's environment.
Outcome run(const std::string &command, const std::vector<std::string> &env = {}) {
  const std::string base = ::testing::TempDir() + "unfinished_run" + std::to_string(getpid());
  std::string line;
  for (const auto &e : env)
    line += e + " ";
  Outcome r;
  r.status = std::system((line + command + " >" + base + ".out 2>" + base + ".err").c_str());
  for (const char *part : {".out", ".err"}) {
    std::ifstream in(base + part);
    (part[1] == 'o' ? r.out : r.err).assign(std::istreambuf_iterator<char>(in), {});
    std::remove((base + part).c_str());
  }
  return r;
}

std::string preload() {
  const char *p = std::getenv("LD_PRELOAD");
  return p != nullptr ? p : "";
}

// The probe recorded, killed after call `after` (or during the next one).
std::string record_killed(int after, bool mid) {
  const std::string path = ::testing::TempDir() + "killed" + std::to_string(after) +
                           (mid ? "mid" : "") + std::to_string(getpid()) + ".ses";
  std::remove(path.c_str());
  std::string with = preload();
  const auto board = with.find("libdapsim");
  with.insert(board == std::string::npos ? 0 : with.rfind(':', board) + 1,
              std::string(DAP_RECORDER_LIBRARY) + ":");
  const Outcome r =
      run(std::string(DAP_CRASH_PROBE) + " 20 " + std::to_string(after) + (mid ? " mid" : ""),
          {"LD_PRELOAD=" + with, "DAPREC_FILE=" + path, "DAPSIM_TRACE="});
  EXPECT_TRUE(WIFSIGNALED(r.status) || WEXITSTATUS(r.status) == 128 + SIGKILL) << r.err;
  return path;
}

int status(const Outcome &r) { return WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1; }

const std::string kTool = DAP_SESSION_TOOL;

std::int64_t last_tick(const std::string &path) {
  dapsession::Session s;
  std::string error;
  EXPECT_TRUE(dapsession::read_session(path, &s, &error)) << error;
  EXPECT_TRUE(s.unfinished);
  std::int64_t tick = -1;
  for (const auto &r : s.records)
    tick = r.tick >= 0 ? r.tick : tick;
  return tick;
}

// Killed after its first, a middle and a late call, and in mid-call: each
// file is unfinished after the last call whose close was recorded, is shown
// and cut as far as it goes, and replays exactly up to there; the host's
// calls after the end fail with EIO and are counted, never called exact.
TEST(Unfinished, AKilledRecordingIsCheckedShownCutAndReplayedUpToItsLastWholeBlock) {
  for (const auto &[after, mid] :
       std::vector<std::pair<int, bool>>{{1, false}, {7, false}, {18, false}, {7, true}}) {
    SCOPED_TRACE(std::to_string(after) + (mid ? " mid" : ""));
    const std::string path = record_killed(after, mid);
    const std::string ends = "unfinished: the recording ends after call " + std::to_string(after) +
                             " (tick " + std::to_string(last_tick(path)) +
                             "); 0 bytes after the last whole block dropped\n";
    const Outcome check = run(kTool + " check " + path);
    EXPECT_EQ(status(check), 3) << check.err;
    EXPECT_NE(check.out.find("\n" + ends), std::string::npos) << check.out;

    const Outcome show = run(kTool + " show " + path);
    EXPECT_EQ(status(show), 0) << show.err;
    EXPECT_NE(show.out.find("--- call " + std::to_string(after) + ":"), std::string::npos);
    EXPECT_EQ(show.out.find("--- call " + std::to_string(after + 1)), std::string::npos);
    EXPECT_NE(show.out.find(ends), std::string::npos) << show.out;

    const std::string part = path + ".part";
    const Outcome cut = run(kTool + " cut " + path + " 1-" + std::to_string(after) + " " + part);
    EXPECT_EQ(status(cut), 0) << cut.err;
    const Outcome whole = run(kTool + " check " + part);
    EXPECT_EQ(status(whole), 0) << whole.out;
    EXPECT_EQ(whole.out.find("unfinished"), std::string::npos);
    EXPECT_EQ(status(run(kTool + " cut " + path + " 1-" + std::to_string(after + 1) + " " + part)),
              2);

    const std::string verdict = path + ".verdict";
    const Outcome replay = run(std::string(DAP_CRASH_PROBE) + " 20",
                               {"DAPSIM_REPLAY=" + path, "DAPSIM_REPLAY_VERDICT=" + verdict});
    EXPECT_EQ(status(replay), 1); // the first call after the end fails (both opens)
    const std::string calls = std::to_string(6 * after);
    EXPECT_NE(replay.err.find(": exact to the end of an unfinished recording: " + calls + " of " +
                              calls +
                              " recorded calls played, 0 differences; the recording "
                              "is unfinished: 2 calls came after its end and failed with EIO\n"),
              std::string::npos)
        << replay.err;
    std::ifstream said(verdict);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(said), {}), "unfinished\n");
    // A script that stops where the recording does plays it exactly.
    const Outcome same =
        run(std::string(DAP_CRASH_PROBE) + " " + std::to_string(after), {"DAPSIM_REPLAY=" + path});
    EXPECT_EQ(status(same), 0);
    EXPECT_NE(same.err.find(": exact: " + calls + " of " + calls +
                            " recorded calls played, 0 differences; the recording is "
                            "unfinished\n"),
              std::string::npos)
        << same.err;
    for (const std::string &f : {path, part, verdict})
      std::remove(f.c_str());
  }
}

std::vector<std::uint8_t> bytes_of(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string &path, const std::vector<std::uint8_t> &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A copy cut inside its last block is unfinished before that block (a call
// under way is said); damage is refused, pointing at it: the header's
// CRC-32, a block's CRC-32 by the block's bytes, a block's length that runs
// over the blocks after it.
TEST(Unfinished, ACopyCutShortIsUnfinishedDamageIsRefusedWhereItIs) {
  const std::string path = record_killed(18, false);
  const auto bytes = bytes_of(path);
  put(path, {bytes.begin(), bytes.end() - 5});
  const Outcome cut = run(kTool + " check " + path);
  EXPECT_EQ(status(cut), 3);
  EXPECT_NE(cut.out.find("\nunfinished: the recording ends after call 17 (tick "),
            std::string::npos)
      << cut.out;
  EXPECT_NE(cut.out.find(" bytes after the last whole block dropped; call 18 was under way "
                         "(no close)\n"),
            std::string::npos)
      << cut.out;
  const Outcome show = run(kTool + " show " + path);
  EXPECT_EQ(status(show), 0);
  EXPECT_NE(show.out.find("--- call 18: cut short: the recording ends inside it\n"),
            std::string::npos);

  // The blocks' places, to damage one in the middle.
  std::vector<std::size_t> blocks;
  for (std::size_t at = dapsession::kHeaderSize; at + 12 <= bytes.size();
       at += 12 + (bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24))
    blocks.push_back(at);
  ASSERT_GT(blocks.size(), 10u);
  const std::size_t middle = blocks[blocks.size() / 2], next = blocks[blocks.size() / 2 + 1];
  auto refused = [&](std::vector<std::uint8_t> damaged, const std::string &why) {
    put(path, damaged);
    const Outcome r = run(kTool + " check " + path);
    EXPECT_EQ(status(r), 1) << why;
    EXPECT_NE(r.err.find("dapsession: " + path + ": refused: " + why + "\n"), std::string::npos)
        << r.err;
  };
  auto flipped = [&](std::size_t at) {
    auto b = bytes;
    b[at] ^= 0x40;
    return b;
  };
  refused(flipped(7), "damaged header (its CRC-32 fails) at bytes 0-15");
  refused(flipped(next - 2), "damaged (a block's CRC-32 fails) at bytes " + std::to_string(middle) +
                                 "-" + std::to_string(next - 1));
  auto longer = bytes;
  longer[middle + 2] = 0x10;
  refused(longer, "damaged (a block's length runs past the blocks after it) at bytes " +
                      std::to_string(middle) + "-" + std::to_string(middle + 11));
  std::remove(path.c_str());
}

} // namespace
