// The board's clock: virtual by default (it moves only when the host reads
// it or sleeps), or the system's real one. Ticks are 10 ms, as the rig's.
#pragma once

#include <sys/times.h>

#include <cstdint>

#include "dapsim/board.h"

namespace dapsim {

class Clock {
public:
  static constexpr std::int64_t kMicrosecondsPerTick = 10000;
  // The virtual clock stops here (some 146,000 years in), well before its
  // arithmetic in microseconds could overflow, however often a scenario
  // advances it or the host sleeps for years.
  static constexpr std::int64_t kLimitUs = std::int64_t{1} << 62;
  static constexpr Tick kLimitTick = kLimitUs / kMicrosecondsPerTick;

  // What happens as the clock moves: the board and the scenario, seen from
  // the clock.
  class Listener {
  public:
    // An interrupt for the host's handler is due: a sleep ends at its tick.
    virtual bool interrupted() const = 0;
    // Tasks run: every tick must be visited; otherwise only event ticks.
    virtual bool busy() const = 0;
    virtual Tick next_event() const = 0;
    virtual void on_tick(Tick tick) = 0;

  protected:
    ~Listener() = default;
  };

  Tick now() const { return now_us_ / kMicrosecondsPerTick; }
  std::int64_t now_us() const { return now_us_; }
  bool real() const { return real_; }
  int reads_per_tick() const { return reads_per_tick_; }

  // Tick 0, four reads a tick, in the given mode.
  void power_on(bool real);
  // Switches mode; the tick goes on from where it is.
  void go_real();
  void go_virtual(int reads_per_tick);

  // Moves the clock to `target_us` tick by tick (capped at kLimitUs). False
  // when an interrupt stopped it before.
  bool advance_to(std::int64_t target_us, Listener &listener);
  // On the real clock: catches up with the system's.
  void sync_real(Listener &listener);
  // A virtual read of the clock: true when it is the tick's last one and the
  // clock is to move on a tick.
  bool read_ends_tick() { return ++reads_in_tick_ >= reads_per_tick_; }
  // Never backwards: a replay sets the clock to a recorded tick; `fresh`
  // starts the tick's reads anew.
  void catch_up(Tick tick, bool fresh);

  // What times() answers for `value`: the caller's buffer holds it as user
  // time, the rest 0; the value itself is returned.
  static clock_t answer_times(struct tms *buffer, clock_t value);

private:
  bool real_ = false;
  std::int64_t now_us_ = 0;
  int reads_per_tick_ = 4;
  int reads_in_tick_ = 0;
  clock_t real_origin_ = 0;
};

} // namespace dapsim
