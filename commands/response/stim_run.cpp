#include "stim_run.h"

#include <array>

namespace response {

namespace {

// One silent word, 500 words of pulse, one silent word: 1004 bytes.
constexpr std::size_t kTableWords = 502;
constexpr std::int16_t kPulseLevel = 0x4000;

std::array<std::uint8_t, 2 * kTableWords> pulse_table() {
  std::array<std::uint8_t, 2 * kTableWords> table{};
  for (std::size_t word = 1; word + 1 < kTableWords; ++word)
    dap::put_le16(&table[2 * word], kPulseLevel);
  return table;
}

} // namespace

EventMatrix::EventMatrix(mxArray *&slot) {
  dap::mex::Matrix matrix(kRows, kChannels);
  values_ = matrix.data();
  matrix.hand_to(slot);
}

bool EventMatrix::take(const std::uint8_t *record) {
  const int channel = dap::le_i16(record);
  // A channel number the board should never send has no column; counting or
  // storing it would write outside the matrix.
  if (channel < 0 || channel >= kChannels)
    return false;
  std::uint32_t &stored = stored_[channel];
  // The first hundred events of a channel win: later ones are read so that
  // other channels' records behind them are still reached, then dropped.
  if (stored >= kCap)
    return false;
  double *slot = values_ + static_cast<std::size_t>(channel) * kRows + 3 * stored;
  slot[0] = dap::le_u32(record + 2);
  slot[1] = dap::le_i16(record + 6);
  slot[2] = dap::le_i16(record + 8);
  ++stored;
  return true;
}

bool load_programs(const dap::ChannelSession &session, const char *event_program) {
  dap::reset_board(session.text(), session.binary());
  if (dap::interrupted())
    return false;
  bool stimulus_refused = false;
  bool events_refused = false;
  dap::send_file(session.text(), kStimulusProgram, &stimulus_refused);
  dap::send_file(session.text(), event_program, &events_refused);
  // A board that got none of a program starts nothing of ours, yet may still
  // run an earlier one that would play the pulse table as a stimulus nobody
  // started: nothing more is sent.
  if (stimulus_refused || events_refused)
    return false;
  return dap::wait_ticks(kSettleTicks);
}

void write_pulse_table(const dap::ChannelSession &session) {
  const auto table = pulse_table();
  DAPWrite(session.binary(), table.data(), table.size());
}

bool collect_events(const dap::ChannelSession &session, EventMatrix &events,
                    std::int32_t window_ticks) {
  const std::uint32_t start = dap::ticks_now();
  dap::collect_records(session.binary(), EventMatrix::kRecordSize, start, window_ticks - 1,
                       [&events](const std::uint8_t *record) { events.take(record); });
  return !dap::interrupted();
}

} // namespace response
