// The host's process world as the board touches it: interrupts (SIGINT)
// raised the way a host takes them, and children of the host that end.
// What is due is gathered while the model is locked; it reaches the host
// only after the lock is let go, as the host's handler calls back into us.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

#include "dapsim/board.h"

namespace dapsim {

// Counts what a SIGINT handler visibly does (a device channel closed or
// released, the SIGINT disposition changed), so that an injected interrupt
// can wait until the handler has acted.
extern std::atomic<std::uint64_t> g_sigint_activity;

// How an injected SIGINT reaches the host.
// handler: to the plug-in's handler, on a helper thread if the caller
// blocks SIGINT; host: to the process, as Octave takes a real Ctrl-C;
// within: on the calling thread in the middle of the device call, as a
// real Ctrl-C may land on a host that runs handlers where it interrupts.
enum class Delivery { handler, host, within };

// The interrupts and children a scenario has in store, and those due at the
// end of the current call.
class HostEvents {
public:
  void power_on() { *this = HostEvents{}; }

  void sigint_at_tick(Tick tick, Delivery delivery);
  void sigint_after(std::uint64_t operations, Delivery delivery);
  void child_at_tick(Tick tick) { child_tick_ = tick; }
  void child_after(std::uint64_t operations) { child_op_ = operations; }
  void sigint_before_loader() { sigint_at_loader_ = true; }
  // Whether a SIGINT was asked for just before this loader run (once).
  bool take_sigint_before_loader() { return std::exchange(sigint_at_loader_, false); }

  // The earliest tick something is set for.
  Tick next_tick() const;
  // What the clock reaching `tick`, or the `count`th device operation,
  // brings: each calls `sigint(delivery)` and `child()` as they fall due.
  template <typename Sigint, typename Child> void at_tick(Tick tick, Sigint sigint, Child child);
  template <typename Sigint, typename Child>
  void after_operation(std::uint64_t count, Sigint sigint, Child child);

  // Due at the end of this call. Two interrupts due in one call reach the
  // host as one, like two quick presses of Ctrl-C before the host looks.
  void sigint_due(Delivery delivery);
  bool handler_interrupt_due() const { return sigint_due_ == Delivery::handler; }
  void child_due() { ++children_due_; }
  std::optional<Delivery> take_sigint_due() { return std::exchange(sigint_due_, std::nullopt); }
  int take_children_due() { return std::exchange(children_due_, 0); }

private:
  // Whether `when` is set and `now` has reached it; it is then used up.
  template <typename T> static bool reached(std::optional<T> &when, T now) {
    if (!when || now < *when)
      return false;
    when.reset();
    return true;
  }

  std::optional<Tick> sigint_tick_;
  Delivery sigint_tick_delivery_ = Delivery::handler;
  std::optional<std::uint64_t> sigint_op_;
  Delivery sigint_op_delivery_ = Delivery::handler;
  std::optional<Tick> child_tick_;
  std::optional<std::uint64_t> child_op_;
  // A SIGINT is raised on the calling thread just before the next loader run
  // starts: on a thread that blocks SIGINT, a Ctrl-C the host has not taken yet.
  bool sigint_at_loader_ = false;
  std::optional<Delivery> sigint_due_;
  int children_due_ = 0;
};

template <typename Sigint, typename Child>
void HostEvents::at_tick(Tick tick, Sigint sigint, Child child) {
  if (reached(sigint_tick_, tick))
    sigint(sigint_tick_delivery_);
  if (reached(child_tick_, tick))
    child();
}

template <typename Sigint, typename Child>
void HostEvents::after_operation(std::uint64_t count, Sigint sigint, Child child) {
  if (reached(sigint_op_, count))
    sigint(sigint_op_delivery_);
  if (reached(child_op_, count))
    child();
}

namespace host {

// Whether `address` (a return address) lies in one of the commands: a MEX
// plug-in the host loaded (its file ends in ".mex" or ".mexa64").
bool in_command(const void *address);

// The host has SIGINT ignored: an injected one is a no-op.
bool ignores_sigint();
// Raises SIGINT as `delivery` says and returns once it has visibly landed
// (at most about a second). Called without the lock.
void raise_sigint(Delivery delivery);
// A child of the host ends now; returns once the host has seen its end.
void end_a_child();
// Waits until the host has seen a child's end (its SIGCHLD).
void await_child_end_seen();

} // namespace host

} // namespace dapsim
