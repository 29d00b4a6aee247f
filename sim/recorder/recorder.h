// The session recorder's parts, each a file of its own:
//   daprec.cpp      the C library's entry points: each call passed through,
//                   then handed to the recording
//   descriptors.cpp which descriptors name a device node
//   ownership.cpp   who owns the session file: the lock, children, exit
//   interrupts.cpp  where the operator's Ctrl-C reached the command
//   record.cpp      the calls noted in the file, under one lock
#pragma once

#include <signal.h>

#include <cstdint>
#include <mutex>
#include <type_traits>

#include "next_libc.h"
#include "session.h"

namespace daprec {

// ------------------------------------------------ the next library's calls

inline void *next_symbol(const char *name) {
  return dapsim::libc::next_symbol(name, "daprec", "the recorder cannot pass the call on");
}

#define DAPREC_NEXT(type, name) DAPSIM_NEXT_FN(next_symbol, type, next_##name, name)

using namespace dapsim::libc;

DAPREC_NEXT(OpenFn, open)
DAPREC_NEXT(OpenFn, open64)
DAPREC_NEXT(OpenatFn, openat)
DAPREC_NEXT(OpenatFn, openat64)
DAPREC_NEXT(Open2Fn, __open_2)
DAPREC_NEXT(Open2Fn, __open64_2)
DAPREC_NEXT(Openat2Fn, __openat_2)
DAPREC_NEXT(Openat2Fn, __openat64_2)
DAPREC_NEXT(ReadFn, read)
DAPREC_NEXT(ReadChkFn, __read_chk)
DAPREC_NEXT(WriteFn, write)
DAPREC_NEXT(IoctlFn, ioctl)
DAPREC_NEXT(CloseFn, close)
DAPREC_NEXT(Dup2Fn, dup2)
DAPREC_NEXT(Dup3Fn, dup3)
DAPREC_NEXT(TimesFn, times)
DAPREC_NEXT(SystemFn, system)
DAPREC_NEXT(PosixSpawnFn, posix_spawn)
DAPREC_NEXT(WaitpidFn, waitpid)
DAPREC_NEXT(SigactionFn, sigaction)
DAPREC_NEXT(SignalFn, signal)

// ------------------------------------------------------------- descriptors

// Descriptor numbers the table covers; the file's own goes above them.
inline constexpr int kFdSlots = 65536;
// The node a descriptor was opened on (kAccel0, kAccel1), or -1. Lock-free:
// the host's other descriptors never wait on us.
int device_node(int fd);
void mark_device(int fd, int node);
void forget_device(int fd);

// --------------------------------------------------------------- ownership
// All but the first with the recording's lock held.

// Whether this process records: the first thing worth recording takes the
// file, unless another process (the host that started us) holds it.
bool take_file();
// Whether the file is being written (taken, not stopped).
bool recording();
// The recording, once take_file() is true.
dapsession::Recording &file();
// A write of the file that failed ends the recording, said once at once.
void stop_if_the_file_failed();
// DAPREC_SYNC=1: each close (and the exit) waits until the file is on disk.
bool sync_at_close();
// A times() value before the file is taken: only the last run counts.
void note_early_tick(std::int64_t tick);
// A line on standard error, written whole, nothing allocated.
void say(const char *text);

// -------------------------------------------------------------- interrupts

// Looks up the host's interrupt flags (Octave's count, the interrupt query).
void find_host_interrupt_flags();
// Cheap and lock-free: whether anything has changed since the last look.
bool interrupt_signs_changed();
// With the recording's lock held: whether a Ctrl-C has reached the command
// since the last look, and how (*means); takes in what it saw either way.
// `recording`: a Ctrl-C is to be noted (else it is only taken in).
bool new_interrupt(bool recording, dapsession::Interrupt *means);
// A Ctrl-C noted as held while the loader ran: the first sign of one that
// comes next (the host taking it) is that same Ctrl-C.
void absorb_held_interrupt();
// The host's sigaction() for SIGINT: its handler runs through ours, and it
// is told only what it installed.
int wrapped_sigaction(const struct sigaction *action, struct sigaction *old_action);

// --------------------------------------------------------------- recording

// The lock every record is written under.
std::mutex &recording_lock();
// Runs `note(recording)` with the lock held, the file taken first; errno
// comes out as it went in. Nothing when this thread is in the recorder
// already (a handler's release: see let_go()).
void record_with(void (*call)(void *, dapsession::Recording &), void *note);
template <typename Note> void record(Note &&note) {
  record_with(
      [](void *n, dapsession::Recording &r) {
        (*static_cast<std::remove_reference_t<Note> *>(n))(r);
      },
      &note);
}
// The tick of what the host does next: the last value times() gave it.
std::int64_t current_tick();
// As a call starts: a Ctrl-C that came since the last call came before this
// one. `device`: the call is one to record, and may take the file.
void look_for_interrupt(bool device);
// A times() value the host got.
void note_tick(std::int64_t tick);
// Before the loader starts: the file is taken, so that it stays ours (the
// loader inherits LD_PRELOAD and would otherwise record itself).
void take_file_before_loader();
// A device call or times() under way, from before it is passed on until
// its record is written: a device let go of meanwhile (a signal handler's
// doing) is written after that record.
struct CallInProgress {
  CallInProgress();
  ~CallInProgress();
  CallInProgress(const CallInProgress &) = delete;
  CallInProgress &operator=(const CallInProgress &) = delete;
};
// A device let go of (closed, or its number taken over by dup2/dup3),
// perhaps by a signal handler: written now, or after the record of the
// call under way.
void let_go(int fd, int node, bool closed, int result);

} // namespace daprec
