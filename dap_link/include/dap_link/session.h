// The channel session: one call's hold on the DAP channels, from open to close.
//
// Both channels are opened text first, then binary; a channel counts as open
// only when open() returns a descriptor greater than 0, and a failed open is
// reported in the MATLAB command window as "Error opening accel0, errno=%d".
// Whatever the session opened is closed when it ends, text channel first, on
// every path (normal return, failed open, MATLAB error, Ctrl-C).
#pragma once

#include <atomic>

namespace dap {

// What a call does once the operator has pressed Ctrl-C.
enum class OnInterrupt {
  // The call ends: every wait and loop stops and no device operation is made
  // any more (they fail with EINTR), whichever way the interrupt came.
  end_call,
  // The command takes Ctrl-C itself and finishes its own way (PairOut tells
  // the board to stop): waits and loops still see interrupted(), but the
  // device stays usable.
  finish_call,
};

class ChannelSession {
public:
  // Commands without the interrupt guard keep the descriptors to themselves.
  // Ctrl-C stays the host's business, but the call's waits and collection
  // loops end once the host holds one (dap::interrupted()).
  explicit ChannelSession(OnInterrupt on_interrupt = OnInterrupt::end_call);
  ChannelSession(const ChannelSession &) = delete;
  ChannelSession &operator=(const ChannelSession &) = delete;
  virtual ~ChannelSession();

  // Open /dev/accel0 (resp. /dev/accel1) read-write. On failure the message
  // is printed and false returned; the caller returns from mexFunction.
  bool open_text();
  bool open_binary();
  bool open_both() { return open_text() && open_binary(); }

  // The descriptors, or -1 when the channel is not held (never opened,
  // closed, or taken away by a Ctrl-C).
  int text() const;
  int binary() const;

  // Closes the text channel, then the binary channel. Idempotent.
  virtual void close();

protected:
  // Guarded sessions keep the descriptors in the guard's globals.
  ChannelSession(std::atomic<int> &text_slot, std::atomic<int> &binary_slot);
  bool open_into(std::atomic<int> &slot, const char *path, const char *name);

private:
  std::atomic<int> own_text_{0};
  std::atomic<int> own_binary_{0};
  std::atomic<int> *text_slot_;
  std::atomic<int> *binary_slot_;
  bool watches_host_ = false;
};

namespace detail {
// Sessions alive in this plug-in right now (0 or 1 in a command).
int live_sessions();
} // namespace detail

} // namespace dap
