// The C library underneath the simulator.
//
// Every call the simulator makes on its own behalf goes to the real functions
// found with dlsym(RTLD_NEXT), so that it never serves itself. Calls that go
// through libc functions which may land in our own interposers (fopen, for
// example) are made inside an InsideSimulator scope.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <sys/times.h>
#include <sys/types.h>
#include <time.h>

#include "next_libc.h"

namespace dapsim::real {

using namespace dapsim::libc;

// Looks a symbol up in the libraries after ours; a missing one ends the
// process with a message, since carrying on would run the host on the wrong
// function.
void *lookup(const char *name);

#define DAPSIM_REAL_FN(type, name) DAPSIM_NEXT_FN(lookup, type, name, name)

DAPSIM_REAL_FN(OpenFn, open)
DAPSIM_REAL_FN(OpenFn, open64)
DAPSIM_REAL_FN(OpenatFn, openat)
DAPSIM_REAL_FN(OpenatFn, openat64)
DAPSIM_REAL_FN(Open2Fn, __open_2)
DAPSIM_REAL_FN(Open2Fn, __open64_2)
DAPSIM_REAL_FN(Openat2Fn, __openat_2)
DAPSIM_REAL_FN(Openat2Fn, __openat64_2)
DAPSIM_REAL_FN(ReadFn, read)
DAPSIM_REAL_FN(ReadChkFn, __read_chk)
DAPSIM_REAL_FN(WriteFn, write)
DAPSIM_REAL_FN(IoctlFn, ioctl)
DAPSIM_REAL_FN(CloseFn, close)
DAPSIM_REAL_FN(Dup2Fn, dup2)
DAPSIM_REAL_FN(Dup3Fn, dup3)
DAPSIM_REAL_FN(TimesFn, times)
DAPSIM_REAL_FN(UsleepFn, usleep)
DAPSIM_REAL_FN(NanosleepFn, nanosleep)
DAPSIM_REAL_FN(FopenFn, fopen)
DAPSIM_REAL_FN(FopenFn, fopen64)
DAPSIM_REAL_FN(SystemFn, system)
DAPSIM_REAL_FN(PosixSpawnFn, posix_spawn)
DAPSIM_REAL_FN(WaitpidFn, waitpid)
DAPSIM_REAL_FN(SignalFn, signal)
DAPSIM_REAL_FN(SigactionFn, sigaction)

#undef DAPSIM_REAL_FN

// True while this thread runs simulator code that may call back into libc
// functions we interpose; those calls then go straight to libc.
bool inside();

class InsideSimulator {
public:
  InsideSimulator();
  ~InsideSimulator();
  InsideSimulator(const InsideSimulator &) = delete;
  InsideSimulator &operator=(const InsideSimulator &) = delete;

private:
  bool was_;
};

// Writes all of `text` to a descriptor with the real write (used for the
// banner, warnings and the trace file).
void write_all(int fd, const char *text, size_t length);

} // namespace dapsim::real
