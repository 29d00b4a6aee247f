#include "dap_link/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "dap_link/channel.h"
#include "dap_link/ticks.h"
#include "mex.h"

namespace dap {
namespace {

bool poll_host_interrupt() { return detail::host_interrupt_since_mark(); }

std::atomic<int> g_live_sessions{0};

} // namespace

namespace detail {
int live_sessions() { return g_live_sessions.load(); }
} // namespace detail

ChannelSession::ChannelSession(OnInterrupt on_interrupt)
    : text_slot_(&own_text_), binary_slot_(&own_binary_), watches_host_(true) {
  g_live_sessions.fetch_add(1);
  detail::set_interrupted(false);
  detail::set_keep_device_after_interrupt(on_interrupt == OnInterrupt::finish_call);
  detail::mark_host_interrupts();
  detail::set_interrupt_probe(poll_host_interrupt);
}

ChannelSession::ChannelSession(std::atomic<int> &text_slot, std::atomic<int> &binary_slot)
    : text_slot_(&text_slot), binary_slot_(&binary_slot) {
  g_live_sessions.fetch_add(1);
  detail::set_keep_device_after_interrupt(false);
  text_slot_->store(0);
  binary_slot_->store(0);
}

ChannelSession::~ChannelSession() {
  ChannelSession::close();
  detail::forget_channel_names();
  if (watches_host_)
    detail::set_interrupt_probe(nullptr);
  // The interrupt belonged to this call; whatever runs next starts afresh.
  detail::set_interrupted(false);
  detail::set_keep_device_after_interrupt(false);
  g_live_sessions.fetch_sub(1);
}

bool ChannelSession::open_into(std::atomic<int> &slot, const char *path, const char *name) {
  // A call whose channels a Ctrl-C has already taken away opens nothing more.
  if (interrupted())
    return false;
  errno = 0;
  const int fd = ::open(path, O_RDWR);
  // Descriptor 0 is an open that succeeded: errno holds no reason then, and
  // whatever an earlier call left there would read as one (2 as "driver not
  // loaded"). 0 says so, and the README explains it.
  const int error = fd == 0 ? 0 : errno;
  if (fd > 0) {
    slot.store(fd);
    detail::name_channel(fd, name);
    // A Ctrl-C whose handler ran while the device was opening found no
    // channel to let go of; the call must not go on to use this one.
    if (interrupted()) {
      const int taken = slot.exchange(0);
      detail::name_channel(fd, nullptr);
      if (taken > 0)
        ::close(taken);
      return false;
    }
    return true;
  }
  // Descriptor 0 means the device was opened on a closed standard input: it
  // does not count as a channel, but it must not stay open either.
  if (fd == 0)
    ::close(fd);
  mexPrintf("Error opening %s, errno=%d\n", name, error);
  return false;
}

bool ChannelSession::open_text() { return open_into(*text_slot_, "/dev/accel0", "accel0"); }

bool ChannelSession::open_binary() { return open_into(*binary_slot_, "/dev/accel1", "accel1"); }

int ChannelSession::text() const {
  const int fd = text_slot_->load();
  return fd > 0 ? fd : -1;
}

int ChannelSession::binary() const {
  const int fd = binary_slot_->load();
  return fd > 0 ? fd : -1;
}

void ChannelSession::close() {
  // Asked here as before every device operation (a host may count on being
  // asked); the channels are closed either way.
  static_cast<void>(interrupted());
  const int text_fd = text_slot_->exchange(0);
  const int binary_fd = binary_slot_->exchange(0);
  if (text_fd > 0)
    ::close(text_fd);
  if (binary_fd > 0)
    ::close(binary_fd);
}

} // namespace dap
