// stat() and access() of the rig's paths, in the C library's many spellings:
// the device nodes are answered as the rig's driver would have made them,
// the DAPL directory and the board loader from the files that serve them
// here. Every other path goes straight to the C library.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "real.h"
#include "rig_files.h"
#include "simulator.h"

#define DAPSIM_EXPORT extern "C" __attribute__((visibility("default")))

using dapsim::RigPath;

namespace {

using StatFn = int (*)(const char *, struct stat *);
using Stat64Fn = int (*)(const char *, struct stat64 *);
using FstatatFn = int (*)(int, const char *, struct stat *, int);
using Fstatat64Fn = int (*)(int, const char *, struct stat64 *, int);
using XstatFn = int (*)(int, const char *, struct stat *);
using Xstat64Fn = int (*)(int, const char *, struct stat64 *);
using StatxFn = int (*)(int, const char *, int, unsigned int, struct statx *);
using AccessFn = int (*)(const char *, int);
using FaccessatFn = int (*)(int, const char *, int, int);

#define DAPSIM_FILES_FN(type, name) DAPSIM_NEXT_FN(dapsim::real::lookup, type, real_##name, name)
DAPSIM_FILES_FN(StatFn, stat)
DAPSIM_FILES_FN(Stat64Fn, stat64)
DAPSIM_FILES_FN(StatFn, lstat)
DAPSIM_FILES_FN(Stat64Fn, lstat64)
DAPSIM_FILES_FN(FstatatFn, fstatat)
DAPSIM_FILES_FN(Fstatat64Fn, fstatat64)
DAPSIM_FILES_FN(XstatFn, __xstat)
DAPSIM_FILES_FN(Xstat64Fn, __xstat64)
DAPSIM_FILES_FN(XstatFn, __lxstat)
DAPSIM_FILES_FN(Xstat64Fn, __lxstat64)
DAPSIM_FILES_FN(StatxFn, statx)
DAPSIM_FILES_FN(AccessFn, access)
DAPSIM_FILES_FN(AccessFn, euidaccess)
DAPSIM_FILES_FN(AccessFn, eaccess)
DAPSIM_FILES_FN(FaccessatFn, faccessat)
#undef DAPSIM_FILES_FN

RigPath rig_path(const char *path) {
  if (dapsim::real::inside() || path == nullptr || path[0] != '/')
    return {};
  // Most paths a host looks at are none of the rig's: they pass untouched.
  if (std::strstr(path, "accel") == nullptr && std::strstr(path, "comload") == nullptr &&
      std::strstr(path, "intrfc") == nullptr)
    return {};
  const int saved = errno;
  RigPath rig = dapsim::rig_files().classify(path);
  if (rig.kind == RigPath::Kind::loader)
    rig.served = dapsim::RigFiles::served_loader(dapsim::Simulator::get().loader_missing());
  errno = saved;
  return rig;
}

int failing(int error) {
  errno = error;
  return -1;
}

// The 64-bit spellings take the same record here.
static_assert(sizeof(struct stat) == sizeof(struct stat64), "struct stat64 differs");

// A node's status, or the real call on the path that serves the rig's.
template <typename Status, typename RealCall>
int stat_path(const char *path, Status *status, RealCall &&call) {
  const RigPath rig = rig_path(path);
  if (rig.kind == RigPath::Kind::node) {
    if (status == nullptr)
      return failing(EFAULT);
    struct stat node {};
    const int error = dapsim::rig_files().stat_node(rig.node, &node);
    if (error != 0)
      return failing(error);
    std::memcpy(status, &node, sizeof node);
    return 0;
  }
  return call(rig.kind == RigPath::Kind::none ? path : rig.served.c_str());
}

template <typename RealCall> int access_path(const char *path, int how, RealCall &&call) {
  const RigPath rig = rig_path(path);
  if (rig.kind == RigPath::Kind::node) {
    const int error = dapsim::rig_files().access_node(rig.node, how);
    return error != 0 ? failing(error) : 0;
  }
  return call(rig.kind == RigPath::Kind::none ? path : rig.served.c_str());
}

void to_statx(const struct stat &s, struct statx *x) {
  std::memset(x, 0, sizeof *x);
  x->stx_mask = STATX_BASIC_STATS;
  x->stx_blksize = static_cast<std::uint32_t>(s.st_blksize);
  x->stx_nlink = static_cast<std::uint32_t>(s.st_nlink);
  x->stx_uid = s.st_uid;
  x->stx_gid = s.st_gid;
  x->stx_mode = static_cast<std::uint16_t>(s.st_mode);
  x->stx_ino = s.st_ino;
  x->stx_size = static_cast<std::uint64_t>(s.st_size);
  x->stx_blocks = static_cast<std::uint64_t>(s.st_blocks);
  x->stx_atime = {s.st_atim.tv_sec, static_cast<std::uint32_t>(s.st_atim.tv_nsec), 0};
  x->stx_mtime = {s.st_mtim.tv_sec, static_cast<std::uint32_t>(s.st_mtim.tv_nsec), 0};
  x->stx_ctime = {s.st_ctim.tv_sec, static_cast<std::uint32_t>(s.st_ctim.tv_nsec), 0};
  x->stx_rdev_major = major(s.st_rdev);
  x->stx_rdev_minor = minor(s.st_rdev);
  x->stx_dev_major = major(s.st_dev);
  x->stx_dev_minor = minor(s.st_dev);
}

} // namespace

namespace dapsim {

bool Simulator::loader_missing() {
  return locked([&] { return loader_.missing; });
}

} // namespace dapsim

DAPSIM_EXPORT int stat(const char *path, struct stat *status) {
  return stat_path(path, status, [&](const char *p) { return real_stat()(p, status); });
}

DAPSIM_EXPORT int stat64(const char *path, struct stat64 *status) {
  return stat_path(path, status, [&](const char *p) { return real_stat64()(p, status); });
}

DAPSIM_EXPORT int lstat(const char *path, struct stat *status) {
  return stat_path(path, status, [&](const char *p) { return real_lstat()(p, status); });
}

DAPSIM_EXPORT int lstat64(const char *path, struct stat64 *status) {
  return stat_path(path, status, [&](const char *p) { return real_lstat64()(p, status); });
}

DAPSIM_EXPORT int fstatat(int dirfd, const char *path, struct stat *status, int flags) {
  return stat_path(path, status,
                   [&](const char *p) { return real_fstatat()(dirfd, p, status, flags); });
}

DAPSIM_EXPORT int fstatat64(int dirfd, const char *path, struct stat64 *status, int flags) {
  return stat_path(path, status,
                   [&](const char *p) { return real_fstatat64()(dirfd, p, status, flags); });
}

DAPSIM_EXPORT int __xstat(int version, const char *path, struct stat *status) {
  return stat_path(path, status, [&](const char *p) { return real___xstat()(version, p, status); });
}

DAPSIM_EXPORT int __xstat64(int version, const char *path, struct stat64 *status) {
  return stat_path(path, status,
                   [&](const char *p) { return real___xstat64()(version, p, status); });
}

DAPSIM_EXPORT int __lxstat(int version, const char *path, struct stat *status) {
  return stat_path(path, status,
                   [&](const char *p) { return real___lxstat()(version, p, status); });
}

DAPSIM_EXPORT int __lxstat64(int version, const char *path, struct stat64 *status) {
  return stat_path(path, status,
                   [&](const char *p) { return real___lxstat64()(version, p, status); });
}

DAPSIM_EXPORT int statx(int dirfd, const char *path, int flags, unsigned int mask,
                        struct statx *status) {
  const RigPath rig = rig_path(path);
  if (rig.kind == RigPath::Kind::node) {
    struct stat node {};
    const int error = dapsim::rig_files().stat_node(rig.node, &node);
    if (error != 0)
      return failing(error);
    to_statx(node, status);
    return 0;
  }
  return real_statx()(dirfd, rig.kind == RigPath::Kind::none ? path : rig.served.c_str(), flags,
                      mask, status);
}

DAPSIM_EXPORT int access(const char *path, int how) {
  return access_path(path, how, [&](const char *p) { return real_access()(p, how); });
}

DAPSIM_EXPORT int euidaccess(const char *path, int how) {
  return access_path(path, how, [&](const char *p) { return real_euidaccess()(p, how); });
}

DAPSIM_EXPORT int eaccess(const char *path, int how) {
  return access_path(path, how, [&](const char *p) { return real_eaccess()(p, how); });
}

DAPSIM_EXPORT int faccessat(int dirfd, const char *path, int how, int flags) {
  return access_path(path, how,
                     [&](const char *p) { return real_faccessat()(dirfd, p, how, flags); });
}
