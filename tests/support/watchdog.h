// A bound for a test that guards against a hang: if the scope is not left
// within the time given, the test process ends with the reason on standard
// error, so the fault reads as a failure with its cause rather than as a
// slow suite that ctest's timeout ends. Real time: the simulated board's
// clock is not involved.
#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

class Watchdog {
public:
  Watchdog(std::chrono::seconds bound, std::string reason)
      : thread_([this, bound, reason = std::move(reason)] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (cv_.wait_for(lock, bound, [this] { return done_; }))
            return;
          std::fprintf(stderr, "FAILED: %s: no return within %lld s\n", reason.c_str(),
                       static_cast<long long>(bound.count()));
          std::fflush(stderr);
          _exit(1);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog &) = delete;
  Watchdog &operator=(const Watchdog &) = delete;

private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

} // namespace testsupport
