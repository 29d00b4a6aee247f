#include "clock.h"

#include <algorithm>

#include "real.h"

namespace dapsim {

void Clock::power_on(bool real) {
  real_ = real;
  now_us_ = 0;
  reads_per_tick_ = 4;
  reads_in_tick_ = 0;
  real_origin_ = real::times()(nullptr);
}

void Clock::go_real() {
  real_ = true;
  real_origin_ = real::times()(nullptr) - static_cast<clock_t>(now());
}

void Clock::go_virtual(int reads_per_tick) {
  real_ = false;
  reads_per_tick_ = reads_per_tick;
  reads_in_tick_ = 0;
}

void Clock::sync_real(Listener &listener) {
  if (!real_)
    return;
  const clock_t elapsed = real::times()(nullptr) - real_origin_;
  advance_to(static_cast<std::int64_t>(elapsed) * kMicrosecondsPerTick, listener);
}

bool Clock::advance_to(std::int64_t target_us, Listener &listener) {
  target_us = std::min(target_us, kLimitUs);
  while (true) {
    // An interrupt for the host's handler ends a sleep early, as a signal
    // does: the clock stops at the tick it came.
    if (listener.interrupted())
      return false;
    Tick next = now() + 1;
    // Without running tasks nothing happens between scheduled events, so a
    // long sleep need not visit every tick.
    if (!listener.busy())
      next = std::max(next, std::min(listener.next_event(), target_us / kMicrosecondsPerTick));
    if (next * kMicrosecondsPerTick > target_us)
      break;
    now_us_ = next * kMicrosecondsPerTick;
    reads_in_tick_ = 0;
    listener.on_tick(next);
  }
  if (target_us > now_us_)
    now_us_ = target_us;
  return true;
}

void Clock::catch_up(Tick tick, bool fresh) {
  now_us_ = std::max(now_us_, std::clamp<Tick>(tick, 0, kLimitTick) * kMicrosecondsPerTick);
  if (fresh)
    reads_in_tick_ = 0;
}

clock_t Clock::answer_times(struct tms *buffer, clock_t value) {
  if (buffer != nullptr) {
    buffer->tms_utime = value;
    buffer->tms_stime = 0;
    buffer->tms_cutime = 0;
    buffer->tms_cstime = 0;
  }
  return value;
}

} // namespace dapsim
