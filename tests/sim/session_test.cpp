// Session files: what the recorder writes reads back as it happened, a
// recording stops at its limit, and the simulated board plays one back.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "session.h"
#include "sim_test_util.h"
#include "watchdog.h"

namespace {

using dapsession::kAccel0;
using dapsession::kAccel1;
using dapsession::Kind;

std::string temp_path(const char *name) {
  return ::testing::TempDir() + name + std::to_string(getpid()) + ".ses";
}

std::vector<std::uint8_t> file_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A rig session in miniature: the DAPL program goes out, the host polls
// request 1 until bytes come, reads them, closes.
void write_session(const std::string &path, std::uint64_t limit = dapsession::kDefaultLimit) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    dapsession::Recording w(fd, limit, 100, ::write, 64);
    w.dapl(-1, "/home/labrig/matlab/intrfc/dap/x.dap", 7, 0);
    w.open(kAccel0, -1, 5, 0);
    w.open(kAccel1, -1, 6, 0);
    w.write(kAccel0, 40, 8, 8, 0, "start x\r");
    for (int i = 0; i < 3; ++i) {
      w.clock(40);
      w.ioctl(kAccel1, 40, 1, 0, 0, 0);
    }
    w.clock(41);
    w.ioctl(kAccel1, 41, 1, 0, 0, 4);
    const std::uint8_t data[] = {0x10, 0x00, 0xf0, 0xff};
    w.read(kAccel1, 41, 100, 4, 0, data);
    w.read(kAccel1, 41, 100, -1, EAGAIN, nullptr);
    w.loader(41, "/usr/src/linux/drivers/dap/comload a b", 0, 0);
    w.clock(42);
    w.close(kAccel0, 42, 0, 0);
    w.close(kAccel1, 42, 0, 0);
    w.finish();
  }
  ::close(fd);
}

TEST(SessionFile, ReadsBackEveryCallWithRepeatsAndClockRunsFolded) {
  const std::string path = temp_path("format");
  write_session(path);
  const auto bytes = file_bytes(path);
  ASSERT_GE(bytes.size(), dapsession::kHeaderSize);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "DAPSES");
  EXPECT_EQ(bytes[6] | (bytes[7] << 8), 2); // version, little-endian

  dapsession::Session s;
  std::string error;
  ASSERT_TRUE(dapsession::read_session(path, &s, &error)) << error;
  EXPECT_EQ(s.ticks_per_second, 100u);
  std::vector<std::string> seen;
  for (const auto &r : s.records)
    seen.push_back(std::string(dapsession::kind_name(r.kind)) + " " +
                   dapsession::node_name(r.node) + " t" + std::to_string(r.tick) + " x" +
                   std::to_string(r.repeats));
  const std::vector<std::string> expected = {
      "dapl - t-1 x1",       "open accel0 t-1 x1", "open accel1 t-1 x1",  "write accel0 t40 x1",
      "ioctl accel1 t40 x3", "clock - t40 x3",     "ioctl accel1 t41 x1", "read accel1 t41 x1",
      "read accel1 t41 x1",  "loader - t41 x1",    "clock - t41 x1",      "clock - t42 x1",
      "close accel0 t42 x1", "close accel1 t42 x1"};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(std::string(s.records[3].data.begin(), s.records[3].data.end()), "start x\r");
  EXPECT_EQ(s.records[6].value, 4);
  EXPECT_EQ(s.records[7].data, (std::vector<std::uint8_t>{0x10, 0x00, 0xf0, 0xff}));
  EXPECT_EQ(s.records[8].result, -1);
  EXPECT_EQ(s.records[8].error, EAGAIN);
  EXPECT_EQ(std::string(s.records[9].data.begin(), s.records[9].data.end()),
            "/usr/src/linux/drivers/dap/comload a b");

  // The same records in a version 1 file (bare records) read alike.
  std::vector<std::uint8_t> old(bytes.begin(), bytes.begin() + 16);
  old[6] = 1;
  for (const auto &r : s.records)
    dapsession::encode_record(r, &old);
  dapsession::Session s1;
  ASSERT_TRUE(dapsession::parse_session(old, &s1, &error)) << error;
  ASSERT_EQ(s1.records.size(), s.records.size());
  EXPECT_EQ(s1.records[5].repeats, 3u);
  EXPECT_EQ(s1.records[7].data, s.records[7].data);

  // Refused, with the bytes where the damage is: empty, a stranger's file,
  // a newer version, a byte changed, cut inside a record (version 1). A
  // version 2 file cut after or inside its last block is unfinished.
  auto refused = [&](const std::vector<std::uint8_t> &file, const std::string &why) {
    EXPECT_FALSE(dapsession::parse_session(file, &s, &error)) << why;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  };
  refused({}, "session: refused: the file is empty at byte 0");
  refused({'#', '!', '/', 'b', 'i', 'n'}, "not a session file (no DAPSES header) at byte 0");
  auto newer = bytes;
  newer[6] = 3;
  refused(newer, "damaged header (its CRC-32 fails) at bytes 0-15");
  const std::uint32_t sum = dapsession::crc32(newer.data(), 12);
  for (int k = 0; k < 4; ++k)
    newer[12 + k] = static_cast<std::uint8_t>(sum >> (8 * k));
  refused(newer, "version 3 is newer than this reader (2) at byte 6");
  auto changed = bytes;
  changed[40] ^= 0x20;
  const std::size_t first_end = 16 + 12 + (bytes[16] | bytes[17] << 8) - 1;
  refused(changed, "damaged (a block's CRC-32 fails) at bytes 16-" + std::to_string(first_end));
  refused({old.begin(), old.end() - 3},
          "cut short inside a record at byte " + std::to_string(old.size() - 16));
  for (const std::size_t cut : {3, 24}) {
    ASSERT_TRUE(dapsession::parse_session({bytes.begin(), bytes.end() - static_cast<long>(cut)}, &s,
                                          &error))
        << error;
    EXPECT_TRUE(s.unfinished);
    EXPECT_EQ(s.records.size(), 14u);
  }
  {
    const testsupport::Watchdog bound(std::chrono::seconds(10), "reading /dev/zero as a session");
    EXPECT_FALSE(dapsession::read_session("/dev/zero", &s, &error)); // not read forever
  }
  EXPECT_EQ(error, "/dev/zero: refused: not a session file (no DAPSES header) at byte 0");
  std::remove(path.c_str());
}

// The one writer takes records read back (as `dapsession cut` gives them)
// whatever their size against its blocks: one bigger than a block is a
// block of its own, and the copy reads back record for record.
TEST(SessionFile, RecordsReadBackAreWrittenAgainWholeWhateverTheBlockSize) {
  const std::string path = temp_path("original");
  const std::string copy = temp_path("copy");
  write_session(path);
  dapsession::Session original, copied;
  std::string error;
  ASSERT_TRUE(dapsession::read_session(path, &original, &error)) << error;
  const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    dapsession::Writer w(fd, original.ticks_per_second, ::write, 24);
    for (const auto &r : original.records)
      w.add(r);
    w.finish(dapsession::Writer::Ending::sealed);
    EXPECT_EQ(w.failed_error(), 0);
    EXPECT_FALSE(w.reopen()); // nothing comes after a sealed end
  }
  ::close(fd);
  ASSERT_TRUE(dapsession::read_session(copy, &copied, &error)) << error;
  ASSERT_EQ(copied.records.size(), original.records.size());
  for (std::size_t i = 0; i < original.records.size(); ++i) {
    const auto &a = original.records[i];
    const auto &b = copied.records[i];
    EXPECT_TRUE(a.kind == b.kind && a.node == b.node && a.tick == b.tick && a.result == b.result &&
                a.repeats == b.repeats && a.data == b.data)
        << "record " << i;
  }
  std::remove(path.c_str());
  std::remove(copy.c_str());
}

TEST(SessionFile, StopsAtItsLimitWithOneMessageAndAMarker) {
  const std::string path = temp_path("limit");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  constexpr std::uint64_t kLimit = 4096;
  ::testing::internal::CaptureStderr();
  {
    dapsession::Recording w(fd, kLimit, 100, ::write, 256);
    std::vector<std::uint8_t> block(300, 0xAB);
    for (int i = 0; i < 100; ++i)
      w.read(kAccel1, i, block.size(), static_cast<ssize_t>(block.size()), 0, block.data());
    EXPECT_TRUE(w.stopped());
    w.ioctl(kAccel1, 200, 1, 0, 0, 0);
    w.finish();
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  ::close(fd);
  EXPECT_EQ(said, "daprec: the session file reached its limit of 4096 bytes; recording stopped "
                  "(the calls still go through)\n");
  const auto bytes = file_bytes(path);
  EXPECT_LE(bytes.size(), kLimit);
  dapsession::Session s;
  std::string error;
  ASSERT_TRUE(dapsession::parse_session(bytes, &s, &error)) << error;
  EXPECT_TRUE(s.limit_reached);
  ASSERT_FALSE(s.records.empty());
  EXPECT_EQ(s.records.back().kind, Kind::limit);
  for (const auto &r : s.records)
    if (r.kind == Kind::read) {
      EXPECT_EQ(r.data.size(), 300u); // whole records only
    }
  std::remove(path.c_str());
}

// A file that may grow to `g_room` bytes (as under a file size limit, or a
// disk with that much free), then fails with EFBIG.
off_t g_room = 0;
ssize_t limited_write(int fd, const void *bytes, size_t count) {
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at >= g_room) {
    errno = EFBIG;
    return -1;
  }
  return ::write(fd, bytes, std::min<size_t>(count, static_cast<size_t>(g_room - at)));
}

// A failed write stops the recording: the file ends at its last whole block
// with the reason when it fits (or is found cut short when not), the owner
// learns the errno and what was kept, and nothing is written when the room
// comes back. Records after finish() take its end record back.
TEST(SessionFile, AFailedWriteEndsTheFileAtItsLastWholeBlock) {
  const std::string path = temp_path("full");
  for (const off_t room : {off_t{720}, off_t{16 + 12 + 300 + 20 + 10}}) {
    SCOPED_TRACE(room);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    g_room = room;
    dapsession::Recording w(fd, dapsession::kDefaultLimit, 100, limited_write, 400);
    std::vector<std::uint8_t> block(300, 0xAB);
    int reads = 0;
    for (; w.failed_error() == 0 && reads < 100; ++reads) {
      w.read(kAccel1, reads, block.size(), static_cast<ssize_t>(block.size()), 0, block.data());
      w.flush();
    }
    EXPECT_EQ(w.failed_error(), EFBIG);
    EXPECT_TRUE(w.stopped());
    g_room = 1 << 20;
    w.write(kAccel0, 5, 2, 2, 0, "x\r");
    w.finish();
    const auto bytes = file_bytes(path);
    EXPECT_EQ(w.kept(), bytes.size());
    dapsession::Session s;
    std::string error;
    const bool read = dapsession::parse_session(bytes, &s, &error);
    if (room == 720) {
      ASSERT_TRUE(read) << error;
      EXPECT_EQ(s.stopped_error, EFBIG);
      ASSERT_EQ(s.records.size(), static_cast<std::size_t>(reads)); // the reads kept, the mark
      EXPECT_EQ(s.records.back().kind, Kind::stopped);
    } else {
      EXPECT_EQ(bytes.size(), 16u + 12 + 320); // no room for the mark: one whole block
      EXPECT_TRUE(read && s.unfinished) << error;
    }
    ::close(fd);
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    dapsession::Recording w(fd, dapsession::kDefaultLimit, 100, ::write);
    w.open(kAccel0, 1, 3, 0);
    w.finish();
    w.close(kAccel0, 2, 0, 0);
    w.finish();
    w.finish();
  }
  ::close(fd);
  dapsession::Session s;
  std::string error;
  ASSERT_TRUE(dapsession::read_session(path, &s, &error)) << error;
  EXPECT_EQ(s.records.size(), 2u);
  std::remove(path.c_str());
}

// The folded sum agrees with the byte-at-a-time one at every length and
// alignment around its 16-, 64- and 256-byte steps, continued from any sum,
// with the 512-bit multiply and without it.
TEST(SessionFile, Crc32AgreesWithTheBytewiseSumAtEveryLengthAndAlignment) {
  std::vector<std::uint8_t> bytes(4096 + 16);
  std::uint32_t seed = 1;
  for (std::uint8_t &b : bytes)
    b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  EXPECT_EQ(dapsession::crc32("123456789", 9), 0xCBF43926u);
  for (std::size_t offset = 0; offset < 16; ++offset)
    for (std::size_t n : {0,   1,   15,  16,  17,  63,  64,  65,  79,  80,  127, 128,
                          129, 200, 255, 256, 257, 271, 383, 384, 511, 512, 527, 4096})
      for (std::uint32_t start : {0u, 0xFFFFFFFFu, 0x1234ABCDu})
        for (auto sum : {dapsession::crc32, dapsession::testing::crc32_narrow})
          ASSERT_EQ(sum(bytes.data() + offset, n, start),
                    dapsession::testing::crc32_reference(bytes.data() + offset, n, start))
              << "offset " << offset << ", " << n << " bytes";
}

// Damage of every kind, in both versions: every byte changed, every length
// cut, every field made huge. Never a crash, a hang or a large allocation;
// version 2 refuses all of it.
TEST(SessionFile, DamageIsRefusedNeverReadInPart) {
  const std::string path = temp_path("fuzz");
  write_session(path);
  const auto fresh = file_bytes(path);
  dapsession::Session s;
  std::string error;
  ASSERT_TRUE(dapsession::parse_session(fresh, &s, &error)) << error;
  const auto written = s.records;
  std::vector<std::uint8_t> old(fresh.begin(), fresh.begin() + 16);
  old[6] = 1;
  for (const auto &r : s.records)
    dapsession::encode_record(r, &old);
  for (const std::vector<std::uint8_t> *file :
       {&fresh, const_cast<const std::vector<std::uint8_t> *>(&old)}) {
    const bool checked = file == &fresh;
    // Refused, or (cut short, or its last block damaged: version 2) read as
    // unfinished up to a whole block: what is read is what was written.
    auto refused = [&](const std::vector<std::uint8_t> &bytes) {
      const bool read = dapsession::parse_session(bytes, &s, &error);
      for (const auto &r : s.records) {
        EXPECT_LE(r.data.size(), bytes.size());
      }
      bool prefix = s.records.size() <= written.size();
      for (std::size_t k = 0; prefix && k < s.records.size(); ++k)
        prefix = s.records[k].kind == written[k].kind && s.records[k].tick == written[k].tick &&
                 s.records[k].data == written[k].data;
      return !read || (s.unfinished && prefix);
    };
    for (std::size_t at = 0; at < file->size(); ++at) {
      for (const std::uint8_t flip : {0x01, 0x80, 0xFF}) {
        auto bytes = *file;
        bytes[at] ^= flip;
        EXPECT_TRUE(refused(bytes) || !checked) << at;
      }
      EXPECT_TRUE(refused(std::vector<std::uint8_t>(
                      file->begin(), file->begin() + static_cast<std::ptrdiff_t>(at))) ||
                  !checked)
          << at;
      for (const std::uint32_t huge : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x40000000u}) {
        auto bytes = *file;
        for (std::size_t k = 0; k < 4 && at + k < bytes.size(); ++k)
          bytes[at + k] = static_cast<std::uint8_t>(huge >> (8 * k));
        EXPECT_TRUE(refused(bytes) || !checked || bytes == *file) << at;
      }
    }
  }
  // A version 1 clock run no rig makes (a host's tick wait would spin on it).
  dapsession::Record run;
  run.kind = Kind::clock;
  run.repeats = 0xFFFFFFFFu;
  dapsession::encode_record(run, &old);
  EXPECT_FALSE(dapsession::parse_session(old, &s, &error));
  EXPECT_NE(error.find("a clock run of 4294967295 calls"), std::string::npos) << error;
  // A Ctrl-C is a record of version 2 only.
  old.resize(old.size() - 16);
  dapsession::Record ctrl_c;
  ctrl_c.kind = Kind::interrupt;
  ctrl_c.result = 1;
  dapsession::encode_record(ctrl_c, &old);
  EXPECT_FALSE(dapsession::parse_session(old, &s, &error));
  EXPECT_NE(error.find("unknown record kind 12"), std::string::npos) << error;
  std::remove(path.c_str());
}

// A Ctrl-C noted between two command calls goes with the call after it, as
// the clock runs before its open do.
TEST(SessionFile, CutCarriesTheCtrlCJustBeforeACallsOpen) {
  const std::string path = temp_path("cut"), part = temp_path("cut_part");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    dapsession::Recording w(fd, dapsession::kDefaultLimit, 100, ::write);
    for (int call = 0; call < 2; ++call) {
      w.clock(10 + call);
      if (call == 1)
        w.interrupt(11, dapsession::Interrupt::octave);
      w.open(kAccel0, 10 + call, 5, 0);
      w.write(kAccel0, 10 + call, 8, 8, 0, "start x\r");
      w.close(kAccel0, 10 + call, 0, 0);
    }
    w.finish();
  }
  ::close(fd);
  ASSERT_EQ(
      std::system(
          (std::string(DAP_SESSION_TOOL) + " cut " + path + " 2 " + part + " >/dev/null").c_str()),
      0);
  dapsession::Session s;
  std::string error;
  ASSERT_TRUE(dapsession::read_session(part, &s, &error)) << error;
  std::string seen;
  for (const auto &r : s.records)
    seen += std::string(dapsession::kind_name(r.kind)) + " ";
  EXPECT_EQ(seen, "clock interrupt open write close ");
  std::remove(path.c_str());
  std::remove(part.c_str());
}

// show and cut read a big file as they go: what they hold is a call's
// worth, not a record's worth for every record. 100 000 calls (400 000
// records, 8 MB) are shown and cut within 32 MiB of data; a call too big to hold (here: more than
// 64 kB) is read again, and shown the same.
TEST(SessionFile, ShowAndCutHoldACallsWorthWhateverTheFilesSize) {
  const std::string path = temp_path("many");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    dapsession::Recording w(fd, dapsession::kDefaultLimit, 100, ::write);
    std::uint8_t data[100] = {1, 0, 2, 0};
    for (int call = 0; call < 100000; ++call) {
      w.open(kAccel1, call, 5, 0);
      for (int k = 0; k < (call == 50000 ? 3000 : 1); ++k) {
        data[4] = static_cast<std::uint8_t>(k);
        w.ioctl(kAccel1, call, 1, 0, 0, call == 50000 ? 100 : 4);
        w.read(kAccel1, call, sizeof data, call == 50000 ? 100 : 4, 0, data);
      }
      w.close(kAccel1, call, 0, 0);
    }
    w.finish();
  }
  ::close(fd);
  auto show = [&](const std::string &how) {
    const std::string out = temp_path("many_shown");
    EXPECT_EQ(std::system((how + " " + DAP_SESSION_TOOL + " show " + path + " >" + out).c_str()), 0)
        << how;
    const auto shown = file_bytes(out);
    std::remove(out.c_str());
    return std::string(shown.begin(), shown.end());
  };
#ifdef __SANITIZE_ADDRESS__
  const std::string limit = "exec"; // its shadow memory needs no limit
#else
  const std::string limit = "ulimit -d 32768 && exec";
#endif
  const std::string whole = show(limit);
  // cut as well: every call but the first, the same records.
  const std::string part = temp_path("many_cut");
  EXPECT_EQ(std::system((limit + " " + DAP_SESSION_TOOL + " cut " + path + " 2-100000 " + part +
                         " >/dev/null")
                            .c_str()),
            0);
  dapsession::Session kept;
  std::string error;
  EXPECT_TRUE(dapsession::read_session(part, &kept, &error)) << error;
  EXPECT_EQ(kept.records.size(), 405998u - 4);
  std::remove(part.c_str());
  EXPECT_NE(whole.find("--- call 100000: reads 4 bytes\n99999 open accel1 -> fd=5\n"),
            std::string::npos);
  EXPECT_NE(whole.find("\n405998 records\n"), std::string::npos);
  EXPECT_EQ(show("DAPSESSION_HOLD=65536"), whole);
  // Damaged late: what comes before the damage is shown, then the refusal,
  // on standard error and in the exit status, and no count of the records.
  {
    const int damaged = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(damaged, 0);
    const char changed = 0x55;
    EXPECT_EQ(::pwrite(damaged, &changed, 1, 4 << 20), 1);
    ::close(damaged);
  }
  const std::string out = temp_path("cut_shown"), err = temp_path("cut_said");
  EXPECT_NE(
      std::system(
          (std::string(DAP_SESSION_TOOL) + " show " + path + " >" + out + " 2>" + err).c_str()),
      0);
  const auto shown = file_bytes(out), said = file_bytes(err);
  const std::string text(shown.begin(), shown.end());
  EXPECT_NE(std::string(said.begin(), said.end()).find(path + ": refused: damaged"),
            std::string::npos);
  EXPECT_EQ(text.find(" records\n"), std::string::npos);
  EXPECT_GT(text.size(), 1000u);
  EXPECT_EQ(whole.compare(0, text.size(), text), 0);
  std::remove(out.c_str());
  std::remove(err.c_str());
  std::remove(path.c_str());
}

// Output that cannot be written (a full disk) fails show, check and cut:
// exit status 1, a line on standard error. A failed cut leaves no part of a
// session behind, but a device it was writing to stays.
TEST(SessionFile, ToolsFailWhenTheirOutputCannotBeWritten) {
  struct stat full {};
  if (::stat("/dev/full", &full) != 0)
    GTEST_SKIP() << "no /dev/full";
  const std::string path = temp_path("full");
  write_session(path);
  const std::string tool = DAP_SESSION_TOOL;
  for (const char *command : {" show ", " check "})
    EXPECT_EQ(std::system((tool + command + path + " >/dev/full 2>/dev/null").c_str()), 1 << 8)
        << command;
  EXPECT_EQ(std::system((tool + " cut " + path + " 1 /dev/full 2>/dev/null").c_str()), 1 << 8);
  EXPECT_EQ(::stat("/dev/full", &full), 0);
  std::remove(path.c_str());
}

class Replay : public simtest::Board {};

TEST_F(Replay, PlaysTheRecordedAnswersAndReportsWhereTheHostDiffers) {
  const std::string path = temp_path("replay");
  write_session(path);
  for (const char *mode : {"lenient", "strict"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(simctl::command("replay " + path + " " + mode), "14 records");
    const bool strict = std::string(mode) == "strict";
    if (!strict) {
      // Another program than the one recorded.
      const int dapl = ::open("/home/labrig/matlab/intrfc/dap/dapsim_selftest.dap", O_RDONLY);
      if (dapl >= 0)
        ::close(dapl);
    }
    const int text = open_node("/dev/accel0");
    const int binary = open_node("/dev/accel1");
    ASSERT_GT(text, 0);
    ASSERT_GT(binary, 0);
    // One byte off, as a changed command line would be.
    EXPECT_EQ(::write(text, "start y\r", 8), strict ? -1 : 8);
    struct tms unused;
    int value = -1;
    if (!strict) {
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(::times(&unused), 40);
        EXPECT_EQ(simtest::query(binary, 1, &value), 0);
        EXPECT_EQ(value, 0);
      }
      EXPECT_EQ(::times(&unused), 41);
      EXPECT_EQ(simtest::query(binary, 1, &value), 0);
      EXPECT_EQ(value, 4);
      std::uint8_t got[100] = {};
      EXPECT_EQ(::read(binary, got, sizeof got), 4);
      EXPECT_EQ(got[2], 0xf0);
      errno = 0;
      EXPECT_EQ(::read(binary, got, sizeof got), -1);
      EXPECT_EQ(errno, EAGAIN);
    } else {
      errno = 0;
      EXPECT_EQ(simtest::query(binary, 1, &value), -1);
      EXPECT_EQ(errno, EIO);
    }
    const auto differences = simctl::trace_matching("replay differs");
    ASSERT_EQ(differences.size(), strict ? 1u : 2u);
    if (!strict) {
      EXPECT_NE(differences[0].find("DAPL open 1: expected /home/labrig/matlab/intrfc/dap/x.dap "
                                    "got /home/labrig/matlab/intrfc/dap/dapsim_selftest.dap"),
                std::string::npos)
          << differences[0];
    }
    EXPECT_NE(differences.back().find("accel0 write 1 byte 7: expected 0x78 got 0x79"),
              std::string::npos)
        << differences.back();
    close_node(text);
    close_node(binary);
  }
  EXPECT_EQ(simctl::command("replay off"), "");
  EXPECT_EQ(simctl::command("replay"), "off");
  std::remove(path.c_str());
}

// A DAPL file missing here (or there), the loader's command line changed by
// one character, and loader runs that failed on the rig: each reported by
// name or at its first differing byte, the host getting the recorded status.
TEST_F(Replay, ReportsDaplOpensAndLoaderRunsThatDifferAndGivesTheRecordedStatus) {
  const std::string path = temp_path("loader");
  const std::string dir = "/home/labrig/matlab/intrfc/dap/";
  const std::string loader = "/usr/src/linux/drivers/dap/comload ";
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    dapsession::Recording w(fd, dapsession::kDefaultLimit, 100, ::write);
    w.dapl(-1, (dir + "absent.dap").c_str(), 7, 0);
    w.dapl(-1, (dir + "shrtrec.dap").c_str(), -1, ENOENT);
    w.loader(-1, (loader + "a b").c_str(), 0, 0);
    w.loader(-1, (loader + "x").c_str(), SIGKILL, 0); // as system() gives a killed child
    w.loader(-1, (loader + "y").c_str(), -1, EAGAIN);
    w.finish();
    ::close(fd);
  }
  EXPECT_EQ(simctl::command("replay " + path), "5 records");
  for (const char *name : {"absent.dap", "shrtrec.dap"}) {
    const int fd = ::open((dir + name).c_str(), O_RDONLY);
    if (fd >= 0)
      ::close(fd);
  }
  EXPECT_EQ(std::system((loader + "a c").c_str()), 0);
  const int killed = std::system((loader + "x").c_str());
  EXPECT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL) << killed;
  errno = 0;
  EXPECT_EQ(std::system((loader + "y").c_str()), -1);
  EXPECT_EQ(errno, EAGAIN);
  const auto differences = simctl::trace_matching("replay differs");
  ASSERT_EQ(differences.size(), 3u) << ::testing::PrintToString(simctl::trace());
  EXPECT_NE(differences[0].find("DAPL open 1: " + dir +
                                "absent.dap opened on the recording, fails here (errno=2"),
            std::string::npos)
      << differences[0];
  EXPECT_NE(differences[1].find("DAPL open 2: " + dir +
                                "shrtrec.dap failed on the recording (errno=2), opens here"),
            std::string::npos)
      << differences[1];
  EXPECT_NE(differences[2].find("loader run 1 byte 38: expected 0x62 got 0x63 (recorded "),
            std::string::npos)
      << differences[2];
  std::remove(path.c_str());
}

// A lenient replay that skips recorded calls moves the clock up to the call
// it found; a times() value recorded before that never takes it back.
TEST_F(Replay, NeverTurnsTheClockBackAfterSkippingCalls) {
  const std::string path = temp_path("skip");
  write_session(path);
  simctl::command("replay " + path);
  const int text = open_node("/dev/accel0");
  const int binary = open_node("/dev/accel1");
  simtest::send(text, "start x\r");
  std::uint8_t got[100];
  EXPECT_EQ(::read(binary, got, sizeof got), 4); // the polls skipped
  EXPECT_EQ(simctl::command("advance 0"), "41");
  struct tms unused;
  EXPECT_EQ(::times(&unused), 40); // the host still gets the recorded value
  EXPECT_EQ(simctl::command("advance 0"), "41");
  close_node(text);
  close_node(binary);
  std::remove(path.c_str());
}

// The rig's answers at their edges (an open that gave descriptor 0, a tick
// past what the virtual clock holds) play as recorded; the verdict at the
// end says what the host did not do as recorded; a damaged file is refused.
TEST_F(Replay, PlaysTheRigsEdgesAndEndsWithAVerdict) {
  const std::string path = temp_path("edges");
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    dapsession::Recording w(fd, dapsession::kDefaultLimit, 100, ::write);
    w.open(kAccel0, 5, 0, 0);
    w.ioctl(kAccel0, std::int64_t{1} << 50, 1, 0, 0, 3);
    w.write(kAccel0, 6, 8, 8, 0, "start x\r");
    w.close(kAccel0, 7, 0, 0);
    w.finish();
    ::close(fd);
  }
  auto verdict = [&](const std::function<void()> &host) {
    EXPECT_EQ(simctl::command("replay " + path), "4 records");
    const int text = ::open("/dev/accel0", O_RDWR);
    EXPECT_EQ(text, 0);
    int value = -1;
    EXPECT_EQ(simtest::query(text, 1, &value), 0);
    EXPECT_EQ(value, 3);
    host();
    ::testing::internal::CaptureStderr();
    simctl::command("replay off");
    EXPECT_EQ(::close(text), 0);
    return ::testing::internal::GetCapturedStderr();
  };
  EXPECT_EQ(verdict([] { EXPECT_EQ(simctl::command("advance 0"), "461168601842738"); }),
            "dapsim: replay of " + path +
                ": NOT exact: 2 of 4 recorded calls played, 0 differences; 2 recorded calls left "
                "unplayed\n");
  const std::string said = verdict([] {
    EXPECT_EQ(::write(0, "start y\r", 8), 8);
    EXPECT_EQ(::write(0, "more\r", 5), 5);
  });
  EXPECT_NE(said.find(": NOT exact: 3 of 4 recorded calls played, 2 differences, the first: "
                      "accel0 write 1 byte 7: expected 0x78 got 0x79"),
            std::string::npos)
      << said;
  EXPECT_NE(
      said.find("; 1 recorded calls left unplayed; a call with no recorded counterpart: write "
                "accel0 5 \"more\\r\"\n"),
      std::string::npos)
      << said;

  auto bytes = file_bytes(path);
  bytes[30] ^= 1;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  std::string reply;
  EXPECT_FALSE(simctl::try_command("replay " + path, &reply));
  EXPECT_EQ(reply.rfind(
                "replay: " + path + ": refused: damaged (a block's CRC-32 fails) at bytes 16-", 0),
            0u)
      << reply;
  std::remove(path.c_str());
}

} // namespace
