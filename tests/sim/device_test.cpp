// The device nodes as the host sees them through the C library.
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/times.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "sim_test_util.h"

namespace {

using simtest::query;
using simtest::send;
using simtest::text_of;

class Devices : public simtest::Board {};

TEST_F(Devices, EveryOpenEntryPointGivesADistinctDescriptorAboveZero) {
  const int a = open_node("/dev/accel0");
  const int b = open_node("/dev/accel1");
  const int c = ::openat(AT_FDCWD, "/dev//./accel1", O_RDWR);
  const int d = ::open64("/dev/accel0", O_RDWR);
  EXPECT_GT(a, 0);
  EXPECT_GT(b, 0);
  EXPECT_GT(c, 0);
  EXPECT_GT(d, 0);
  EXPECT_NE(a, b);
  EXPECT_NE(c, d);
  EXPECT_EQ(simctl::command("open"), "4");
  ::close(c);
  ::close(d);
  EXPECT_EQ(simctl::command("open"), "2");
  const auto opens = simctl::trace_matching("open accel");
  ASSERT_EQ(opens.size(), 4u);
  EXPECT_EQ(opens[0], "0 open accel0 fd=" + std::to_string(a));
  EXPECT_EQ(opens[2], "0 open accel1 fd=" + std::to_string(c));
}

TEST_F(Devices, OtherPathsAndDescriptorsGoToTheCLibraryWithErrno) {
  errno = 0;
  EXPECT_EQ(::open("/nonexistent/dapsim/file", O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(::open("/dev/accel2", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(::close(-1), -1);
  EXPECT_EQ(errno, EBADF);

  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ASSERT_EQ(::write(pipe_fds[1], "abc", 3), 3);
  int ready = -1;
  EXPECT_EQ(::ioctl(pipe_fds[0], FIONREAD, &ready), 0);
  EXPECT_EQ(ready, 3);
  char buffer[8];
  EXPECT_EQ(::read(pipe_fds[0], buffer, sizeof buffer), 3);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  // None of that is the board's business.
  EXPECT_TRUE(simctl::trace().empty());
}

TEST_F(Devices, DriverRequestsAnswerThroughA32BitValue) {
  const int txt = open_node("/dev/accel0");
  const int bin = open_node("/dev/accel1");
  int value = -1;
  EXPECT_EQ(query(bin, 15, &value), 0);
  EXPECT_EQ(value, 0x0100);
  value = 77;
  EXPECT_EQ(query(txt, 14, &value), 0);
  EXPECT_EQ(value, 77) << "request 14 reads the value, it must not change it";
  EXPECT_EQ(query(bin, 1, &value), 0);
  EXPECT_EQ(value, 0);
  simctl::command("queue bin 01 02 03");
  EXPECT_EQ(query(bin, 1, &value), 0);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(query(bin, 2, &value), 0);
  EXPECT_EQ(value, 4096);

  errno = 0;
  EXPECT_EQ(query(bin, 3, &value), -1);
  EXPECT_EQ(errno, ENOTTY);
  errno = 0;
  EXPECT_EQ(::ioctl(bin, 1, nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  void *volatile nowhere = nullptr; // hidden from the compiler's null check
  errno = 0;
  EXPECT_EQ(::read(bin, nowhere, 4), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(simctl::command("pending accel1"), "3") << "a failed read takes nothing";
  // The host's int need not be aligned.
  alignas(4) unsigned char raw[8] = {};
  EXPECT_EQ(::ioctl(bin, 15, raw + 1), 0);
  EXPECT_EQ(raw[1], 0x00);
  EXPECT_EQ(raw[2], 0x01);
  EXPECT_FALSE(simctl::trace_matching("ioctl accel0 14 -> 0 value=77").empty());
  EXPECT_FALSE(simctl::trace_matching("ioctl accel1 3 -> -1 errno=25").empty());
}

// A buffer that is not the host's to give (unmapped, or read-only where the
// driver writes) is refused with EFAULT as a driver's copy to or from user
// space refuses it, never a crash of the host; nothing is taken or sent.
TEST_F(Devices, ABadBufferIsRefusedAsADriverRefusesIt) {
  const long page = sysconf(_SC_PAGESIZE);
  auto *pages = static_cast<unsigned char *>(
      mmap(nullptr, 2 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
  unsigned char *const read_only = pages + page - 4;
  unsigned char *const unmapped = pages + page;
  const int txt = open_node("/dev/accel0");
  const int bin = open_node("/dev/accel1");
  simctl::command("queue bin 01 02 03");
  for (unsigned char *bad : {read_only, unmapped}) {
    errno = 0;
    EXPECT_EQ(::read(bin, bad, 8), -1);
    EXPECT_EQ(errno, EFAULT);
    errno = 0;
    EXPECT_EQ(::ioctl(bin, 1, bad + 4), -1);
    EXPECT_EQ(errno, EFAULT);
  }
  EXPECT_EQ(simctl::command("pending accel1"), "3");
  errno = 0;
  EXPECT_EQ(::write(txt, read_only, 8), -1) << "the last 4 bytes are unmapped";
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(::write(txt, read_only, 4), 4) << "a read-only buffer is good to write from";
  int value = 0;
  EXPECT_EQ(::ioctl(txt, 14, read_only), 0) << "request 14 only reads its value";
  EXPECT_EQ(query(txt, 1, &value), 0);
  munmap(pages, 2 * page);
}

TEST_F(Devices, BinaryFifoIsBoundedAndCountsWhatItLoses) {
  const int bin = open_node("/dev/accel1");
  simctl::command("queue bin " + std::string(2 * 65000, 'a'));
  simctl::command("queue bin " + std::string(2 * 1000, 'b'));
  EXPECT_EQ(simctl::command("pending accel1"), "65536");
  EXPECT_EQ(simctl::trace_matching("lost"), std::vector<std::string>{"0 lost accel1 464"});
  std::vector<unsigned char> data(70000);
  EXPECT_EQ(::read(bin, data.data(), data.size()), 65536);
  EXPECT_EQ(data[64999], 0xaa);
  EXPECT_EQ(data[65000], 0xbb);
  EXPECT_EQ(data[65535], 0xbb);
  EXPECT_EQ(::read(bin, data.data(), data.size()), 0) << "an empty channel reads nothing";
}

TEST_F(Devices, BinaryInputHoldsFourKilobytesAndReportsItsRoom) {
  const int bin = open_node("/dev/accel1");
  std::vector<unsigned char> table(3000, 0x11);
  EXPECT_EQ(::write(bin, table.data(), table.size()), 3000);
  int room = 0;
  EXPECT_EQ(query(bin, 2, &room), 0);
  EXPECT_EQ(room, 1096);
  EXPECT_EQ(::write(bin, table.data(), table.size()), 1096) << "a full input takes what fits";
  EXPECT_EQ(query(bin, 2, &room), 0);
  EXPECT_EQ(room, 0);
  EXPECT_EQ(simctl::written("accel1").size(), 4096u);

  simctl::command("freespace 10 2000 6");
  int seen[4];
  for (int &s : seen)
    ASSERT_EQ(query(bin, 2, &s), 0);
  EXPECT_EQ(seen[0], 10);
  EXPECT_EQ(seen[1], 2000);
  EXPECT_EQ(seen[2], 6);
  EXPECT_EQ(seen[3], 6) << "the last answer repeats";
  simctl::command("fault clear");
  EXPECT_EQ(query(bin, 2, &room), 0);
  EXPECT_EQ(room, 0);
}

TEST_F(Devices, WritesAreTracedAsTextOrHex) {
  const int txt = open_node("/dev/accel0");
  const int bin = open_node("/dev/accel1");
  send(txt, "start x\r\"q\"\x01");
  const unsigned char table[] = {0x10, 0x00, 0xf0, 0xff};
  ASSERT_EQ(::write(bin, table, sizeof table), 4);
  const auto writes = simctl::trace_matching("write");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], R"(0 write accel0 12 "start x\r\"q\"\x01" -> 12)");
  EXPECT_EQ(writes[1], "0 write accel1 4 1000f0ff -> 4");
  EXPECT_EQ(simctl::command("written accel1"), "10 00 f0 ff");
}

TEST_F(Devices, FaultsShapeOpensRequestsAndTransfers) {
  simctl::command("fault missing accel1 ENOENT");
  simctl::command("fault openzero accel0");
  errno = 0;
  EXPECT_EQ(::open("/dev/accel1", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(::open("/dev/accel0", O_RDWR), 0);
  // Descriptor 0 stands for the device until closed; the process's own
  // standard input survives the close.
  EXPECT_EQ(simctl::command("open"), "1");
  EXPECT_EQ(::close(0), 0);
  EXPECT_EQ(simctl::command("open"), "0");
  EXPECT_NE(fcntl(0, F_GETFD), -1);
  EXPECT_EQ(simctl::trace_matching("close accel0").size(), 1u);
  simctl::command("fault clear");

  const int txt = open_node("/dev/accel0");
  const int bin = open_node("/dev/accel1");
  simctl::command("fault ioctl accel1 1 fail EIO");
  simctl::command("fault ioctl accel0 1 positive 3");
  simctl::command("fault shortwrite accel0 4");
  simctl::command("fault shortread accel1 2");
  simctl::command("queue bin 01 02 03");
  int value = -1;
  errno = 0;
  EXPECT_EQ(query(bin, 1, &value), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(query(txt, 1, &value), 3);
  EXPECT_EQ(::write(txt, "start x\r", 8), 4);
  EXPECT_EQ(simctl::command("written accel0"), "73 74 61 72");
  unsigned char buffer[8];
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 2);
  simctl::command("fault readfail accel1 5");
  errno = 0;
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EIO);
  simctl::command("fault clear");
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 1);
}

// One short read in the middle of a stream, then whole reads again; reads
// the fault had no need to cut do not use it up.
TEST_F(Devices, ACountedShortReadCutsOnlyTheNextReads) {
  const int bin = open_node("/dev/accel1");
  simctl::command("fault shortread accel1 3 count 2");
  unsigned char buffer[16];
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 0);
  simctl::command("queue bin 01 02 03 04 05 06 07 08 09 0a 0b 0c");
  EXPECT_EQ(::read(bin, buffer, 2), 2);
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 3);
  EXPECT_EQ(buffer[0], 3);
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 3);
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 4);
  EXPECT_EQ(buffer[0], 9);
  simctl::command("queue bin 01 02 03 04 05 06 07 08");
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 8);
}

// A driver that refuses writes, on either node: failed (nothing reaches the
// board) or taking nothing, for the next N writes or for good.
TEST_F(Devices, RefusedWritesTakeNothingAndACountWearsOff) {
  const int txt = open_node("/dev/accel0");
  const int bin = open_node("/dev/accel1");
  simctl::command("fault writefail accel0 EIO count 2");
  simctl::command("fault shortwrite accel1 0 count 1");
  errno = 0;
  EXPECT_EQ(::write(txt, "let a=1\r", 8), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(::write(txt, "let a=2\r", 8), -1);
  EXPECT_EQ(::write(txt, "let a=3\r", 8), 8);
  EXPECT_EQ(simctl::command("variable a"), "3");
  EXPECT_EQ(::write(bin, "\x01\x02", 2), 0);
  EXPECT_EQ(::write(bin, "\x03\x04", 2), 2);
  EXPECT_EQ(simctl::command("written accel1"), "03 04");
  EXPECT_EQ(simctl::trace_matching("write accel0 8 \"let a=1\\r\" -> -1 errno=5").size(), 1u);
  simctl::command("fault writefail accel1 ENOSPC");
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(::write(bin, "\x05", 1), -1);
  EXPECT_EQ(simctl::command("written accel1"), "03 04");
}

// A slow driver takes its ticks before it serves each operation on the node,
// so what the board did meanwhile is there; a count wears off, and the other
// node is not slowed.
TEST_F(Devices, ASlowDriverTakesItsTicksOverEachOperation) {
  simctl::command("fault slow accel1 3 count 4");
  simctl::command("queue bin 01 02 at 5");
  const int bin = open_node("/dev/accel1");
  open_node("/dev/accel0");
  int ready = -1;
  EXPECT_EQ(query(bin, 1, &ready), 0);
  EXPECT_EQ(ready, 2);
  unsigned char buffer[4];
  EXPECT_EQ(::write(bin, "x", 1), 1);
  EXPECT_EQ(::read(bin, buffer, sizeof buffer), 2);
  EXPECT_EQ(query(bin, 1, &ready), 0);
  EXPECT_EQ(simctl::trace_matching("accel1 "),
            (std::vector<std::string>{"3 open accel1 fd=" + std::to_string(bin),
                                      "6 ioctl accel1 1 -> 0 value=2", "9 write accel1 1 78 -> 1",
                                      "12 read accel1 4 -> 2", "12 ioctl accel1 1 -> 0 value=0"}));
  simctl::command("fault slow accel1 1000");
  close_node(bin);
  EXPECT_EQ(simctl::command("clock"), "1012");
  simctl::command("fault clear");
  close_node(open_node("/dev/accel1"));
  EXPECT_EQ(simctl::command("clock"), "1012");
  // On the real clock the driver really takes its time.
  simctl::command("clock real");
  simctl::command("fault slow accel1 3 count 1");
  const auto start = std::chrono::steady_clock::now();
  close_node(open_node("/dev/accel1"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(Devices, Dup2OntoAChannelReleasesTheDevice) {
  const int txt = open_node("/dev/accel0");
  const int bin = open_node("/dev/accel1");
  const int null_fd = ::open("/dev/null", O_RDWR);
  ASSERT_EQ(::dup2(null_fd, bin), bin);
  ASSERT_EQ(::dup3(null_fd, txt, O_CLOEXEC), txt);
  ::close(null_fd);
  EXPECT_EQ(simctl::command("open"), "0");
  EXPECT_EQ(simctl::trace_matching("release"),
            (std::vector<std::string>{"0 release accel1 fd=" + std::to_string(bin),
                                      "0 release accel0 fd=" + std::to_string(txt)}));
  // The numbers are the C library's now: /dev/null reads nothing and the
  // board sees nothing.
  simctl::command("queue bin 01");
  char c;
  EXPECT_EQ(::read(bin, &c, 1), 0);
  int value;
  EXPECT_EQ(::ioctl(bin, 1, &value), -1);
  EXPECT_EQ(simctl::command("pending accel1"), "1");
  EXPECT_TRUE(simctl::trace_matching("read").empty());
}

TEST_F(Devices, DaplDirectoryIsServedFromTheProjectFolder) {
  const char *path = "/home/labrig/matlab/intrfc/dap/dapsim_selftest.dap";
  const int fd = ::open(path, O_RDONLY);
  ASSERT_GT(fd, 0) << std::strerror(errno);
  char head[5] = {};
  EXPECT_EQ(::read(fd, head, 4), 4);
  EXPECT_STREQ(head, "; Th");
  ::close(fd);
  FILE *f = std::fopen(path, "r");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  errno = 0;
  EXPECT_EQ(::open("/home/labrig/matlab/intrfc/dap/no_such_program.dap", O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
  // A sibling of the directory is not part of it.
  EXPECT_EQ(::open("/home/labrig/matlab/intrfc/dapx/dapsim_selftest.dap", O_RDONLY), -1);
}

} // namespace

namespace {

TEST_F(Devices, ASuccessfulDeviceCallLeavesErrnoAlone) {
  const int bin = open_node("/dev/accel1");
  errno = 1234;
  int value;
  EXPECT_EQ(::ioctl(bin, 1, &value), 0);
  unsigned char byte;
  EXPECT_EQ(::read(bin, &byte, 1), 0);
  EXPECT_EQ(::write(bin, &byte, 1), 1);
  struct tms unused;
  ::times(&unused);
  EXPECT_EQ(errno, 1234);
}

} // namespace

namespace {

TEST_F(Devices, ANumberClosedBehindOurBackIsNotServedAsADeviceAgain) {
  const int bin = ::open("/dev/accel1", O_RDWR);
  ASSERT_GT(bin, 0);
  ASSERT_EQ(::syscall(SYS_close, bin), 0);
  const int file = ::open("/dev/zero", O_RDONLY);
  ASSERT_EQ(file, bin) << "the kernel hands out the lowest free number";
  unsigned char byte = 1;
  EXPECT_EQ(::read(file, &byte, 1), 1);
  EXPECT_EQ(byte, 0) << "a read of the host's own file reached the board";
  EXPECT_EQ(simctl::command("open"), "0");
  EXPECT_EQ(simctl::trace_matching("stale"),
            std::vector<std::string>{"0 stale accel1 fd=" + std::to_string(file)});
  ::close(file);
}

} // namespace

namespace {

TEST_F(Devices, WithStandardInputClosedAChannelStillOpensAboveZero) {
  const int saved = ::dup(STDIN_FILENO);
  ASSERT_GE(saved, 0);
  ::close(STDIN_FILENO);
  const int txt = ::open("/dev/accel0", O_RDWR);
  const int zero_again = ::open("/dev/null", O_RDONLY); // 0 must still be free
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  if (zero_again > 0)
    ::close(zero_again);
  EXPECT_GT(txt, 0);
  EXPECT_EQ(zero_again, 0);
  if (txt > 0)
    ::close(txt);
  EXPECT_EQ(simctl::command("open"), "0");
}

} // namespace
