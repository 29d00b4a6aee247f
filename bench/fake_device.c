/* A stand-in for the DAP driver that costs what a driver call costs: the
 * device nodes open /dev/null, reads and writes go to it, and each driver
 * request is one ioctl system call on it (answered "nothing waiting").
 * Preloaded under the recorder by scripts/bench, so that the recorder's
 * cost is measured against a real system call and nothing else. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#define FAKE_EXPORT __attribute__((visibility("default")))

static unsigned char device_fd[65536];

static int is_device_path(const char *path) {
  return path != NULL && (strcmp(path, "/dev/accel0") == 0 || strcmp(path, "/dev/accel1") == 0);
}

static int open_fake(const char *path, int flags, mode_t mode) {
  if (!is_device_path(path))
    return (int)syscall(SYS_openat, AT_FDCWD, path, flags, mode);
  const int fd = (int)syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDWR | O_CLOEXEC, 0);
  if (fd >= 0 && fd < 65536)
    device_fd[fd] = 1;
  return fd;
}

FAKE_EXPORT int open(const char *path, int flags, ...) {
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  return open_fake(path, flags, mode);
}

FAKE_EXPORT int open64(const char *path, int flags, ...) {
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  return open_fake(path, flags, mode);
}

FAKE_EXPORT int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void *argument = va_arg(ap, void *);
  va_end(ap);
  if (fd < 0 || fd >= 65536 || !device_fd[fd])
    return (int)syscall(SYS_ioctl, fd, request, argument);
  int waiting = 0;
  (void)syscall(SYS_ioctl, fd, FIONREAD, &waiting);
  if (argument != NULL && request != 14)
    memset(argument, 0, sizeof(int));
  return 0;
}
