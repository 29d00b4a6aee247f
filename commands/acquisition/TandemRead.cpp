// TandemRead: one pulse train and one reply per channel, for eight channels.
//
// For channel i the board gets i's pulse records and an idle record on the
// binary channel, then "start echreadd,echreadc"; its three-word reply is
// folded into element i of the result (4 * first + 2 * second + third).
#include <cstdint>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr int kChannels = 8;
constexpr std::size_t kRecordBytes = 6;
constexpr std::int32_t kReplyWindow = 1000; // ticks from just before the start line
// A count of Inf (or anything near it) would keep the pulse loop writing for
// ever, so counts above this are refused rather than quietly cut short.
constexpr double kMaxPulses = 1000000;

const char kUsage[] = "usage: v = TandemRead([1 x 8 vector of pulse counts])";
const char kTooMany[] = "a pulse count may be at most 1000000";

// The channel index rides in bits 12 to 14 with its bit order reversed.
std::uint16_t channel_code(int channel) {
  return static_cast<std::uint16_t>(((channel & 1) << 14) | ((channel & 2) << 12) |
                                    ((channel & 4) << 10));
}

void put_word(std::uint8_t *p, std::uint16_t word) {
  p[0] = static_cast<std::uint8_t>(word & 0xFFu);
  p[1] = static_cast<std::uint8_t>(word >> 8);
}

void make_record(std::uint8_t *record, std::uint16_t first, std::uint16_t middle,
                 std::uint16_t last) {
  put_word(record, first);
  put_word(record + 2, middle);
  put_word(record + 4, last);
}

void command(const dap::mex::Call &call) {
  const double *counts = dap::mex::real_argument(call, kChannels, kUsage);
  for (int i = 0; i < kChannels; ++i)
    if (counts[i] > kMaxPulses)
      dap::mex::fail(dap::mex::kBadArgument, kTooMany);

  dap::mex::Matrix result(1, kChannels);
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  const int text = session.text();
  const int binary = session.binary();

  DAPFlush(binary);
  DAPFlush(text);

  result.hand_to(call.plhs[0]);
  double *replies = result.data();

  for (int i = 0; i < kChannels && !dap::interrupted(); ++i) {
    const std::uint16_t code = channel_code(i);
    std::uint8_t pulse[kRecordBytes];
    std::uint8_t idle[kRecordBytes];
    make_record(pulse, code, static_cast<std::uint16_t>(code | 0x8000u), code);
    make_record(idle, code, code, code);

    // Non-integral counts round up (2.5 sends 3); 0, negatives and NaN send none.
    for (std::uint32_t n = 0; static_cast<double>(n) < counts[i] && !dap::interrupted(); ++n)
      DAPWrite(binary, pulse, sizeof pulse);
    if (dap::interrupted())
      break;
    DAPWrite(binary, idle, sizeof idle);

    const std::uint32_t t0 = dap::ticks_now();
    if (!dap::wait_ticks_from(t0, 1))
      break;
    // A channel whose tasks the board never heard of has no reply to wait for.
    if (!dap::start_tasks(text, "start echreadd,echreadc\r"))
      continue;
    dap::wait_readable(binary, static_cast<int>(kRecordBytes), t0, kReplyWindow);
    if (dap::interrupted())
      break;

    // Anything but exactly one reply's worth stays in the channel, so a reply
    // that comes late is taken by the next channel rather than lost.
    // The reply is read a word at a time, the reads a healthy board has
    // always seen; a read that comes back short is completed within the
    // window, and a word whose two bytes did not both come stays 0.
    double words[3] = {0, 0, 0};
    if (DAPGetAvail(binary) == static_cast<int>(kRecordBytes)) {
      for (double &word : words) {
        std::uint8_t bytes[2];
        dap::RecordFramer framer(bytes, sizeof bytes);
        framer.read(binary);
        if (dap::take_record(binary, framer, t0, kReplyWindow) == sizeof bytes)
          word = dap::le_i16(bytes);
      }
    }
    DAPSendLine(text, "stop echreadc\r");
    replies[i] = 4 * words[0] + 2 * words[1] + words[2];
  }
}

} // namespace

DAP_MEX_GATEWAY(1, command)
