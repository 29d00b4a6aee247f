// The C library functions that the simulated board and the session recorder
// put themselves in front of, as their own calls reach them: the next
// library's definition, found with dlsym(RTLD_NEXT).
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/times.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <initializer_list>

namespace dapsim::libc {

using OpenFn = int (*)(const char *, int, ...);
using OpenatFn = int (*)(int, const char *, int, ...);
using Open2Fn = int (*)(const char *, int);
using Openat2Fn = int (*)(int, const char *, int);
using ReadFn = ssize_t (*)(int, void *, size_t);
using ReadChkFn = ssize_t (*)(int, void *, size_t, size_t);
using WriteFn = ssize_t (*)(int, const void *, size_t);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);
using Dup2Fn = int (*)(int, int);
using Dup3Fn = int (*)(int, int, int);
using TimesFn = clock_t (*)(struct tms *);
using UsleepFn = int (*)(useconds_t);
using NanosleepFn = int (*)(const struct timespec *, struct timespec *);
using FopenFn = FILE *(*)(const char *, const char *);
using SystemFn = int (*)(const char *);
using PosixSpawnFn = int (*)(pid_t *, const char *, const posix_spawn_file_actions_t *,
                             const posix_spawnattr_t *, char *const[], char *const[]);
using WaitpidFn = pid_t (*)(pid_t, int *, int);
using SignalFn = void (*(*)(int, void (*)(int)))(int);
using SigactionFn = int (*)(int, const struct sigaction *, struct sigaction *);

// `name` in the libraries loaded after ours. A missing one ends the process
// with "<who>: the C library has no '<name>'; <consequence>", since carrying
// on would run the host on the wrong function. The message goes out by the
// raw system call: the function that is missing may be write itself.
inline void *next_symbol(const char *name, const char *who, const char *consequence) {
  void *fn = dlsym(RTLD_NEXT, name);
  if (fn == nullptr) {
    for (const char *part : {who, ": the C library has no '", name, "'; ", consequence, "\n"})
      [[maybe_unused]] const long rc = syscall(SYS_write, 2, part, strlen(part));
    abort();
  }
  return fn;
}

// The mode argument of an open that creates a file, taken from the
// variable arguments only when the flags say there is one.
inline bool takes_mode(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}
inline mode_t mode_argument(int flags, va_list ap) {
  return takes_mode(flags) ? va_arg(ap, mode_t) : 0;
}

} // namespace dapsim::libc

// Defines `type function()`, which gives the next library's `symbol`, looked
// up once by `lookup(const char *)`.
#define DAPSIM_NEXT_FN(lookup, type, function, symbol)                                             \
  inline type function() {                                                                         \
    static const type fn = reinterpret_cast<type>(lookup(#symbol));                                \
    return fn;                                                                                     \
  }
