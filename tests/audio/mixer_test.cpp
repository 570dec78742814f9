// The mixer calls against the test sound server; pactl confirms what the
// server holds.
#include "platform/mixer/mixer_device.h"
#include "pulse_test_support.h"

#include <lumvara/audio.h>

#include <gtest/gtest.h>

#include <string>

namespace lumvara {
namespace {

struct MixerLineCase {
  const char* name;
  int (*setVolume)(int);
  int (*getVolume)();
  int (*setMute)(int);
  int (*getMute)();
  const char* pactlVolume;  // pactl command reading the line's volume
  const char* pactlMute;
};

void PrintTo(const MixerLineCase& c, std::ostream* os) { *os << c.name; }

class MixerCalls : public testing::TestWithParam<MixerLineCase> {
 protected:
  void SetUp() override { test::ResetTestMixer(); }
  void TearDown() override { test::ResetTestMixer(); }
};

// The raw volume pactl reports first on its output ("Volume: mono: 32768 / ...").
long PactlRawVolume(const char* command) {
  const std::string out = test::Run(command);
  const auto colon = out.find("mono:");
  if (colon == std::string::npos) return -1;
  return std::stol(out.substr(colon + 5));
}

TEST_P(MixerCalls, VolumeRoundTripsWithTruncatingScale) {
  const auto& line = GetParam();
  const struct { int percent; } cases[] = {{50}, {100}, {0}, {1}, {33}, {99}};
  for (const auto& c : cases) {
    ASSERT_EQ(line.setVolume(c.percent), LUMVARA_S_OK) << c.percent;
    const long written = static_cast<long>(c.percent * kMixerVolumeMaximum / 100);
    EXPECT_EQ(PactlRawVolume(line.pactlVolume), written) << c.percent;
    EXPECT_EQ(line.getVolume(), static_cast<int>(written * 100 / kMixerVolumeMaximum)) << c.percent;
  }
  ASSERT_EQ(line.setVolume(100), LUMVARA_S_OK);
  EXPECT_EQ(line.getVolume(), 100);
  EXPECT_EQ(PactlRawVolume(line.pactlVolume), kMixerVolumeMaximum);
}

TEST_P(MixerCalls, RefusesVolumesTheServerCannotTake) {
  const auto& line = GetParam();
  ASSERT_EQ(line.setVolume(40), LUMVARA_S_OK);
  const int before = line.getVolume();
  EXPECT_EQ(line.setVolume(-1), LUMVARA_E_FAIL);
  EXPECT_EQ(line.setVolume(2147483647), LUMVARA_E_FAIL);
  EXPECT_EQ(line.getVolume(), before);  // unchanged by the refusals
}

TEST_P(MixerCalls, MuteRoundTrips) {
  const auto& line = GetParam();
  ASSERT_EQ(line.setMute(1), LUMVARA_S_OK);
  EXPECT_EQ(line.getMute(), 1);
  EXPECT_NE(test::Run(line.pactlMute).find("yes"), std::string::npos);
  ASSERT_EQ(line.setMute(0), LUMVARA_S_OK);
  EXPECT_EQ(line.getMute(), 0);
  EXPECT_NE(test::Run(line.pactlMute).find("no"), std::string::npos);
  ASSERT_EQ(line.setMute(7), LUMVARA_S_OK);  // any non-zero value mutes
  EXPECT_EQ(line.getMute(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MixerCalls,
    testing::Values(MixerLineCase{"Speakers", x_player_setPlayVolume, x_player_getPlayVolume, x_player_setMute,
                                  x_player_getMute, "pactl get-sink-volume @DEFAULT_SINK@",
                                  "pactl get-sink-mute @DEFAULT_SINK@"},
                    MixerLineCase{"Microphone", x_player_setMicPlayVolume, x_player_getMicPlayVolume,
                                  x_player_setMicMute, x_player_getMicMute, "pactl get-source-volume @DEFAULT_SOURCE@",
                                  "pactl get-source-mute @DEFAULT_SOURCE@"}),
    [](const testing::TestParamInfo<MixerLineCase>& p) { return p.param.name; });

}  // namespace
}  // namespace lumvara
