// Events noted where no lock may be taken (a signal handler, a thread that
// must not wait) and written later, in the order they were noted, by the
// holder of the lock. Any number of threads and handlers may push at once:
// each claims its own slot by compare-and-swap, fills it, then marks it
// ready; one lock holder at a time drains. Lock-free on the platforms we
// build for, so safe in a signal handler; no allocation.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

namespace dapsim {

template <typename Event, std::uint32_t Slots> class Deferred {
  static_assert(std::is_trivially_copyable_v<Event>);
  static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

public:
  // False when every slot is taken: nothing was noted.
  bool push(const Event &event) {
    std::uint32_t at = claimed_.load(std::memory_order_relaxed);
    do {
      if (at - drained_.load(std::memory_order_acquire) >= Slots)
        return false;
    } while (!claimed_.compare_exchange_weak(at, at + 1, std::memory_order_acq_rel,
                                             std::memory_order_relaxed));
    events_[at % Slots] = event;
    ready_[at % Slots].store(at + 1, std::memory_order_release);
    return true;
  }

  // Whether anything was pushed and not yet drained (or is being pushed).
  bool pending() const {
    return claimed_.load(std::memory_order_acquire) != drained_.load(std::memory_order_relaxed);
  }

  // By the lock holder: hands each ready event to `take`, oldest first,
  // including those pushed meanwhile. Stops at a slot claimed but not yet
  // filled (by another thread); the next drain takes it.
  template <typename Take> void drain(Take &&take) {
    for (std::uint32_t at = drained_.load(std::memory_order_relaxed);
         ready_[at % Slots].load(std::memory_order_acquire) == at + 1; ++at) {
      const Event event = events_[at % Slots];
      drained_.store(at + 1, std::memory_order_release);
      take(event);
    }
  }

private:
  std::atomic<std::uint32_t> claimed_{0};
  std::atomic<std::uint32_t> drained_{0};
  // Slot k holds the event numbered n (n % Slots == k) once it reads n + 1.
  std::atomic<std::uint32_t> ready_[Slots] = {};
  Event events_[Slots] = {};
};

} // namespace dapsim
