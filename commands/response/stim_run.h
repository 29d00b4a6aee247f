// What StimResp and StimResp2 share: the stimulus program, the pulse table
// and the event matrix the board's event records are sorted into.
#pragma once

#include <cstdint>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace response {

// The stimulus program is the same for both runs; the second file holds the
// run's own event tasks.
inline constexpr char kStimulusProgram[] = "/home/labrig/matlab/intrfc/dap/opstim2.dap";
inline constexpr char kStartTasks[] = "start stimrespa,stimrespb,ledstim2a,ledstim2b\r";

// Settling time the board gets after its program is loaded and after the run.
inline constexpr std::int32_t kSettleTicks = 10;

// The event matrix: 300 x 9 doubles, column c+1 for channel c, three rows
// (time, value1, value2) per event, at most 100 events per channel.
class EventMatrix {
public:
  static constexpr int kChannels = 9;
  static constexpr int kRows = 300;
  static constexpr std::uint32_t kCap = 100;
  static constexpr std::size_t kRecordSize = 10;

  // Creates the zero matrix and hands it to `slot` right away, so that every
  // later way out of the call returns it to the caller. Made before the
  // channel session, as every result is.
  explicit EventMatrix(mxArray *&slot);

  // Sorts one 10-byte event record into its channel's next slot. Returns
  // false when the record is dropped: its channel is already full, or it
  // names no channel of the matrix at all.
  bool take(const std::uint8_t *record);

private:
  double *values_;
  std::uint32_t stored_[kChannels] = {};
};

// Resets the board and loads the stimulus program and `event_program`, then
// lets the board settle. False when a Ctrl-C ended the call meanwhile, or
// when the driver refused the whole of either program (said as any refused
// write): nothing more is to be sent then.
bool load_programs(const dap::ChannelSession &session, const char *event_program);

// Writes the stimulus pulse table to the binary channel in one piece.
void write_pulse_table(const dap::ChannelSession &session);

// Collects event records for a window of `window_ticks` ticks from now.
// False when a Ctrl-C ended the window.
bool collect_events(const dap::ChannelSession &session, EventMatrix &events,
                    std::int32_t window_ticks);

} // namespace response
