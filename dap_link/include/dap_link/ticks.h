// The process clock in ticks of 1/100 s, and waits measured on it.
#pragma once

#include <cstdint>

namespace dap {

// The tick counter as times() returns it, kept to 32 bits.
std::uint32_t ticks_now();

// Ticks from `start` to now as a signed 32-bit difference, correct across
// wrap-around of the counter.
std::int32_t ticks_since(std::uint32_t start);

// Signed 32-bit difference `later - earlier`, wrap-safe.
std::int32_t tick_difference(std::uint32_t later, std::uint32_t earlier);

// True once a Ctrl-C has taken the current call's channels away. Every wait
// and collection loop checks it, so an interrupted call ends within about a
// tick instead of running out its windows on closed descriptors.
bool interrupted();

// True when the current call has been interrupted and its device is no
// longer to be touched: every channel operation checks it first.
bool device_withheld();

// The tick wait: busy-polls the clock until it has advanced `n` ticks from
// its value at entry (loops while the difference is at most n - 1). Ends
// early when the call is interrupted. Returns false if it was.
bool wait_ticks(std::int32_t n);

// Same, from a start value the caller took earlier.
bool wait_ticks_from(std::uint32_t start, std::int32_t n);

namespace detail {
// Set by the interrupt guard's handler, cleared when a guarded call begins.
void set_interrupted(bool value);
// While a guarded call runs, interrupted() also asks this probe, which looks
// for a Ctrl-C that the host took without running our handler.
void set_interrupt_probe(bool (*probe)());
// A command that finishes its own way after Ctrl-C keeps using the device.
void set_keep_device_after_interrupt(bool keep);
// A Ctrl-C the host took without running our handler (Octave raises its
// interrupt flag from a thread of its own; MATLAB's desktop answers its
// interrupt query); never in a host without either. mark_host_interrupts()
// notes what the host holds as a call begins: an interrupt it already held
// then is not this call's. host_interrupt_since_mark() is true once the host
// has taken a Ctrl-C after the mark.
void mark_host_interrupts();
bool host_interrupt_since_mark();
// True when the host takes SIGINT on a thread of its own (Octave), where a
// Ctrl-C can be pending in the process for a moment before the host has it.
bool host_takes_sigint_itself();
} // namespace detail

} // namespace dap
