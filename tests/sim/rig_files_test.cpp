// The rig's paths as every spelling of stat and access finds them, and what
// the scenario makes of them: each spelling must tell the same story, or a
// host that uses another one sees another machine.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "sim_test_util.h"

namespace {

// errno of each spelling for `path` (0 when it succeeded), with the mode
// each found.
struct Looks {
  int errors[5];
  unsigned modes[4];
};

Looks look(const char *path) {
  Looks l{};
  struct stat s {};
  struct stat64 s64 {};
  struct statx x {};
  const auto result = [](int rc) { return rc == 0 ? 0 : errno; };
  l.errors[0] = result(::stat(path, &s));
  l.modes[0] = s.st_mode;
  l.errors[1] = result(::lstat64(path, &s64));
  l.modes[1] = s64.st_mode;
  s = {};
  l.errors[2] = result(::fstatat(AT_FDCWD, path, &s, 0));
  l.modes[2] = s.st_mode;
  l.errors[3] = result(::statx(AT_FDCWD, path, 0, STATX_BASIC_STATS, &x));
  l.modes[3] = x.stx_mode;
  l.errors[4] = result(::faccessat(AT_FDCWD, path, R_OK | W_OK, 0));
  return l;
}

void expect_all(const char *path, int error, unsigned mode, int access_error) {
  const Looks l = look(path);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(l.errors[i], error) << path << " spelling " << i;
    if (error == 0) {
      EXPECT_EQ(l.modes[i], mode) << path << " spelling " << i;
    }
  }
  EXPECT_EQ(l.errors[4], access_error) << path;
  EXPECT_EQ(::access(path, R_OK | W_OK) == 0 ? 0 : errno, access_error) << path;
}

using RigFiles = simtest::Board;

TEST_F(RigFiles, NodesAreCharacterDevicesOfTheirOwnAsFoundOrAsMadeWrong) {
  expect_all("/dev/accel0", 0, S_IFCHR | 0660, 0);
  expect_all("/dev//./accel1", 0, S_IFCHR | 0660, 0);
  struct stat s {};
  ASSERT_EQ(::stat("/dev/accel1", &s), 0);
  EXPECT_EQ(minor(s.st_rdev), 1u);
  EXPECT_EQ(s.st_uid, ::geteuid());

  simctl::command("node accel0 missing");
  expect_all("/dev/accel0", ENOENT, 0, ENOENT);
  EXPECT_EQ(open_node("/dev/accel0"), -1);
  EXPECT_EQ(errno, ENOENT);
  simctl::command("node accel0 folder");
  expect_all("/dev/accel0", 0, S_IFDIR | 0755, 0);
  simctl::command("node accel0 denied");
  expect_all("/dev/accel0", 0, S_IFCHR | 0660, EACCES);
  EXPECT_EQ(::access("/dev/accel0", F_OK), 0);
  simctl::command("fault clear");
  EXPECT_EQ(open_node("/dev/accel0"), -1);
  EXPECT_EQ(errno, EACCES);
  simctl::command("node accel0 device");
  EXPECT_GT(open_node("/dev/accel0"), 0);
  simctl::command("node accel1 file");
  expect_all("/dev/accel1", 0, S_IFREG | 0644, 0);
  EXPECT_EQ(simctl::command("node"), "accel0 device, accel1 file");
  simctl::command("reset");
  EXPECT_EQ(simctl::command("node"), "accel0 device, accel1 device");
}

TEST_F(RigFiles, TheDaplDirectoryAndTheLoaderAreServedWithTheirFaults) {
  const char *directory = "/home/labrig/matlab/intrfc/dap";
  const char *program = "/home/labrig/matlab/intrfc/dap/spiker.dap";
  const char *loader = "/usr/src/linux/drivers/dap/comload";
  struct stat s {};
  ASSERT_EQ(::stat(directory, &s), 0);
  EXPECT_TRUE(S_ISDIR(s.st_mode));
  ASSERT_EQ(::stat(program, &s), 0);
  EXPECT_TRUE(S_ISREG(s.st_mode) && s.st_size > 0);
  EXPECT_EQ(::access(loader, X_OK), 0);

  simctl::command("dapl notfile spiker.dap");
  ASSERT_EQ(::stat(program, &s), 0);
  EXPECT_TRUE(S_ISDIR(s.st_mode));
  simctl::command("dapl missing spiker.dap");
  EXPECT_EQ(::stat(program, &s) == 0 ? 0 : errno, ENOENT);
  EXPECT_EQ(::stat("/home/labrig/matlab/intrfc/dap/opstim.dap", &s), 0);
  simctl::command("dapl missing");
  EXPECT_EQ(::access(directory, F_OK) == 0 ? 0 : errno, ENOENT);
  EXPECT_EQ(simctl::command("dapl"), "directory missing, spiker.dap missing");
  simctl::command("dapl clear");
  EXPECT_EQ(::stat(program, &s), 0);

  simctl::command("loader missing");
  EXPECT_EQ(::access(loader, X_OK) == 0 ? 0 : errno, ENOENT);
}

} // namespace
