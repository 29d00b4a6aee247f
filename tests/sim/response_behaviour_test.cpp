// The simulated stimulus-response preparation, driven the way StimResp and
// StimResp2 drive it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dap_link/channel.h"
#include "sim_control.h"

namespace {

struct Event {
  int channel;
  std::uint32_t time;
  int value1;
  int value2;
};

struct Capture {
  std::vector<std::uint8_t> bytes;
  std::vector<Event> events;
};

std::vector<std::uint8_t> pulse_table() {
  std::vector<std::uint8_t> table(1004, 0);
  for (std::size_t word = 1; word <= 500; ++word)
    table[2 * word + 1] = 0x40;
  return table;
}

int s16(const std::uint8_t *p) {
  const int u = p[0] | (p[1] << 8);
  return u < 0x8000 ? u : u - 0x10000;
}

// Loads the programs, sets `lets`, starts the tasks, writes `tables` pulse
// tables `spacing` ticks apart and takes everything the board sends until
// `ticks` have passed since the start.
Capture run(int seed, const std::vector<std::string> &lets, int tables, int spacing = 500,
            int ticks = 1500) {
  simctl::command("reset");
  simctl::command("seed " + std::to_string(seed));
  const int text = ::open("/dev/accel0", O_RDWR);
  const int binary = ::open("/dev/accel1", O_RDWR);
  EXPECT_GT(text, 0);
  EXPECT_GT(binary, 0);
  DAPSendFile(text, "/home/labrig/matlab/intrfc/dap/opstim2.dap");
  DAPSendFile(text, "/home/labrig/matlab/intrfc/dap/stimresp2.dap");
  for (const std::string &let : lets)
    DAPSendLine(text, (let + "\r").c_str());
  DAPSendLine(text, "start stimrespa,stimrespb,ledstim2a,ledstim2b\r");
  const auto table = pulse_table();
  Capture r;
  auto drain = [&] {
    std::uint8_t buffer[4096];
    for (int n; (n = DAPGetAvail(binary)) > 0;) {
      const int got = DAPRead(binary, buffer, n < 4096 ? n : 4096);
      if (got <= 0)
        break;
      r.bytes.insert(r.bytes.end(), buffer, buffer + got);
    }
  };
  int elapsed = 0;
  for (int t = 0; t < tables; ++t) {
    DAPWrite(binary, table.data(), table.size());
    simctl::command("advance " + std::to_string(spacing));
    elapsed += spacing;
    drain();
  }
  if (ticks > elapsed)
    simctl::command("advance " + std::to_string(ticks - elapsed));
  drain();
  ::close(text);
  ::close(binary);
  EXPECT_EQ(r.bytes.size() % 10, 0u);
  for (std::size_t i = 0; i + 10 <= r.bytes.size(); i += 10) {
    const std::uint8_t *p = &r.bytes[i];
    r.events.push_back({s16(p),
                        static_cast<std::uint32_t>(p[2] | (p[3] << 8)) |
                            (static_cast<std::uint32_t>(p[4] | (p[5] << 8)) << 16),
                        s16(p + 6), s16(p + 8)});
  }
  return r;
}

std::vector<Event> of_channel(const Capture &r, int channel) {
  std::vector<Event> out;
  for (const Event &e : r.events)
    if (e.channel == channel)
      out.push_back(e);
  return out;
}

TEST(ResponseBehaviour, SameSeedSameRecordsOtherSeedOtherRecords) {
  const Capture a = run(7, {}, 2);
  const Capture b = run(7, {}, 2);
  const Capture c = run(8, {}, 2);
  ASSERT_FALSE(a.bytes.empty());
  EXPECT_EQ(a.bytes, b.bytes);
  EXPECT_NE(a.bytes, c.bytes);
}

TEST(ResponseBehaviour, EachTableIsPlayedAndMarkedOnChannelEight) {
  const Capture r = run(1, {}, 3);
  const std::vector<Event> markers = of_channel(r, 8);
  ASSERT_EQ(markers.size(), 3u);
  for (std::size_t k = 0; k < markers.size(); ++k) {
    EXPECT_EQ(markers[k].value1, 16384);
    EXPECT_EQ(markers[k].value2, static_cast<int>(k + 1));
    if (k > 0) {
      EXPECT_GT(markers[k].time, markers[k - 1].time);
    }
  }
  const std::string played = simctl::command("played a0");
  EXPECT_EQ(played.find("0 16384 16384"), 0u) << played.substr(0, 40);
}

TEST(ResponseBehaviour, EvokedChannelsAnswerOnlyAfterAStimulus) {
  const Capture quiet = run(1, {}, 0);
  for (const Event &e : quiet.events)
    EXPECT_TRUE(e.channel == 0 || e.channel == 5) << "channel " << e.channel;
  EXPECT_FALSE(quiet.events.empty()); // the units that fire on their own

  const Capture r = run(1, {}, 1);
  const std::vector<Event> markers = of_channel(r, 8);
  ASSERT_EQ(markers.size(), 1u);
  for (int channel : {1, 2, 3, 6}) {
    const std::vector<Event> events = of_channel(r, channel);
    ASSERT_FALSE(events.empty()) << "channel " << channel;
    for (const Event &e : events) {
      EXPECT_GT(e.time, markers[0].time) << "channel " << channel;
      EXPECT_LT(e.time - markers[0].time, 10000u) << "channel " << channel;
    }
  }
  EXPECT_EQ(of_channel(r, 1).size(), 40u);
}

TEST(ResponseBehaviour, ThresholdsSilenceTheirChannelsOnly) {
  const Capture all = run(3, {}, 1);
  const Capture some = run(3, {"LET THR1=32767", "LET THR6=32767", "LET THR2=-5"}, 1);
  EXPECT_FALSE(of_channel(all, 1).empty());
  EXPECT_FALSE(of_channel(all, 6).empty());
  EXPECT_TRUE(of_channel(some, 1).empty());
  EXPECT_TRUE(of_channel(some, 6).empty());
  for (int channel : {0, 2, 3, 8})
    EXPECT_FALSE(of_channel(some, channel).empty()) << "channel " << channel;
  // a threshold between amplitudes keeps the larger events only
  const Capture half = run(3, {"LET THR0=900"}, 1);
  for (const Event &e : of_channel(half, 0))
    EXPECT_GE(e.value1, 900);
  EXPECT_LT(of_channel(half, 0).size(), of_channel(all, 0).size());
}

} // namespace
