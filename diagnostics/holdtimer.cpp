// holdtimer: how long the operator takes to press Enter, in the ticks of
// 1/100 s that the plug-ins count their waits and windows in.
#include <sys/times.h>

#include <cstdint>
#include <cstdio>

namespace {

std::uint32_t ticks_now() {
  struct tms unused;
  return static_cast<std::uint32_t>(times(&unused));
}

} // namespace

int main() {
  const std::uint32_t start = ticks_now();
  std::getchar();
  const std::uint32_t end = ticks_now();
  // Wrap-safe: the counter starts at an arbitrary origin.
  const std::int32_t paused = static_cast<std::int32_t>(end - start);
  std::printf("Paused %d hundredths of a second.\n", static_cast<int>(paused));
  return 0;
}
