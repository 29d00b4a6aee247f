#include "dap_link/rig_check.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <link.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dap_link/channel.h"
#include "dap_link/ticks.h"

extern "C" const char dap_build_stamp[];

namespace dap::rig {
namespace {

const char *kind_of(mode_t mode) {
  switch (mode & S_IFMT) {
  case S_IFCHR:
    return "character device";
  case S_IFREG:
    return "file";
  case S_IFDIR:
    return "folder";
  case S_IFIFO:
    return "FIFO";
  case S_IFSOCK:
    return "socket";
  case S_IFBLK:
    return "block device";
  case S_IFLNK:
    return "link";
  default:
    return "unknown";
  }
}

int access_error(const char *path, int how) {
  errno = 0;
  return access(path, how) == 0 ? 0 : errno;
}

void owner_name(unsigned uid, char *out, std::size_t size) {
  struct passwd entry;
  struct passwd *found = nullptr;
  char buffer[1024];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    std::snprintf(out, size, "%s", found->pw_name);
  else
    std::snprintf(out, size, "%u", uid);
}

void group_name(unsigned gid, char *out, std::size_t size) {
  struct group entry;
  struct group *found = nullptr;
  char buffer[4096];
  if (getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    std::snprintf(out, size, "%s", found->gr_name);
  else
    std::snprintf(out, size, "%u", gid);
}

// A request answers only with a status of exactly 0, as the commands take it.
template <typename Query> RequestAnswer ask(int fd, Query query) {
  RequestAnswer answer;
  errno = 0;
  const int value = query(fd);
  if (value == -1) {
    answer.error = errno != 0 ? errno : -1;
    return answer;
  }
  answer.answered = true;
  answer.value = value;
  return answer;
}

double monotonic_seconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Looks through the first 64 MiB of the file for the stamp the build put in it.
void find_stamp(const char *path, char *out, std::size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return;
  // Spelled in two parts, so that the needle is no stamp of this file.
  char needle[16];
  std::snprintf(needle, sizeof needle, "%s%s", "dap-", "build ");
  const std::size_t needle_length = std::strlen(needle);
  static char block[1 << 16];
  std::size_t kept = 0; // bytes carried over from the previous block
  constexpr long kLimit = 64L * 1024 * 1024;
  constexpr std::size_t kTail = 128;
  long total = 0;
  for (;;) {
    const ssize_t got = read(fd, block + kept, sizeof block - kept);
    if (got <= 0)
      break;
    total += got;
    const std::size_t have = kept + static_cast<std::size_t>(got);
    const void *hit = memmem(block, have, needle, needle_length);
    if (hit != nullptr) {
      const char *start = static_cast<const char *>(hit);
      const std::size_t offset = static_cast<std::size_t>(start - block);
      const std::size_t length = strnlen(start, have - offset);
      // A stamp that the block cuts short is read whole from the kept tail.
      const bool cut =
          offset + length == have && have - offset < kTail && got > 0 && have == sizeof block;
      if (!cut) {
        std::snprintf(out, size, "%.*s", static_cast<int>(length), start);
        break;
      }
    }
    if (total > kLimit)
      break;
    // Keep the tail, in case the stamp straddles two blocks.
    kept = have < kTail ? have : kTail;
    std::memmove(block, block + have - kept, kept);
  }
  close(fd);
}

int find_recorder(struct dl_phdr_info *info, size_t, void *found) {
  const char *name = info->dlpi_name;
  const char *slash = name != nullptr ? std::strrchr(name, '/') : nullptr;
  const char *base = slash != nullptr ? slash + 1 : name;
  if (base != nullptr && std::strcmp(base, "libdaprec.so") == 0) {
    *static_cast<bool *>(found) = true;
    return 1;
  }
  return 0;
}

} // namespace

PathReport examine_path(const char *path) {
  PathReport report;
  struct stat status {};
  errno = 0;
  if (stat(path, &status) != 0) {
    report.error = errno != 0 ? errno : ENOENT;
    return report;
  }
  report.kind = kind_of(status.st_mode);
  report.mode = status.st_mode & 07777;
  report.uid = status.st_uid;
  report.gid = status.st_gid;
  owner_name(report.uid, report.owner, sizeof report.owner);
  group_name(report.gid, report.group, sizeof report.group);
  report.size = static_cast<long long>(status.st_size);
  report.read_error = access_error(path, R_OK);
  report.write_error = access_error(path, W_OK);
  report.run_error = access_error(path, X_OK);
  return report;
}

DriverReport ask_driver(const char *path) {
  DriverReport report;
  errno = 0;
  // Never blocking: a node another program holds must not hold the check.
  const int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    report.open_error = errno != 0 ? errno : EIO;
    return report;
  }
  // Descriptor 0 is no channel to the commands; it is closed all the same.
  report.descriptor_zero = fd == 0;
  if (!report.descriptor_zero) {
    report.version = ask(fd, DAPAccelVersion);
    report.readable = ask(fd, DAPGetAvail);
    report.free_space = ask(fd, DAPPutAvail);
  }
  errno = 0;
  if (close(fd) != 0)
    report.close_error = errno != 0 ? errno : EIO;
  return report;
}

ClockReport measure_clock(int ticks, double limit_seconds) {
  ClockReport report;
  report.ticks_per_second_declared = sysconf(_SC_CLK_TCK);
  // Each reading of the tick counter is timed between two readings of the
  // system's clock; one that took long (the process was preempted between
  // them) says nothing of when its tick came, and is taken again.
  auto read = [](std::uint32_t *tick) {
    for (int attempt = 0;; ++attempt) {
      const double before = monotonic_seconds();
      *tick = ticks_now();
      const double after = monotonic_seconds();
      if (after - before < 0.001 || attempt == 10)
        return after;
    }
  };
  // Starts on a tick's edge, so that the span measured is whole ticks.
  std::uint32_t first = 0;
  double now = read(&first);
  const double edge_limit = now + limit_seconds;
  std::uint32_t start = first;
  while (start == first && now < edge_limit)
    now = read(&start);
  const double began = now;
  const double end = began + limit_seconds;
  std::int32_t passed = 0;
  while (passed < ticks && now < end) {
    std::uint32_t tick = 0;
    now = read(&tick);
    passed = tick_difference(tick, start);
  }
  report.ticks = passed;
  report.seconds = now - began;
  return report;
}

PluginReport examine_plugin(const char *path) {
  PluginReport report;
  find_stamp(path, report.stamp, sizeof report.stamp);
  dlerror();
  // RTLD_NOW: a plug-in that needs what this host lacks fails here, not at
  // its first call. RTLD_LOCAL: nothing of it is seen by anything else.
  void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    std::snprintf(report.error, sizeof report.error, "%s", why != nullptr ? why : "unknown");
    return report;
  }
  report.loads = true;
  report.has_entry = dlsym(handle, "mexFunction") != nullptr;
  dlclose(handle);
  return report;
}

const char *build_stamp() { return dap_build_stamp; }

bool simulated_board() { return dlsym(RTLD_DEFAULT, "dapsim_command") != nullptr; }

bool recorder_loaded() {
  bool found = false;
  dl_iterate_phdr(find_recorder, &found);
  return found;
}

} // namespace dap::rig
