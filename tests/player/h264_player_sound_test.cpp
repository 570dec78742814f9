// The H.264 player's sound against the private test sound server: what it
// plays is recorded from the output's monitor.

#include "player/net_h264_stream_play.h"

#include <lumvara/device.h>
#include <lumvara/player.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "apps/camsim/camera_simulator.h"
#include "audio/pulse_test_support.h"
#include "player/h264_player_support.h"

namespace lumvara {
namespace {

using namespace std::chrono_literals;
using test::streamFrame;
using test::waitFor;

uint32_t sizeOf(const std::vector<uint8_t>& frame) { return static_cast<uint32_t>(frame.size()); }

class H264PlayerSound : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetTestMixer(); }
};

TEST_F(H264PlayerSound, OpenReportsZeroYetSoundIsOn) {
  CNetH264StreamPlay player;
  ASSERT_EQ(player.startPlay(), 1);
  const int before = test::CountPulseObjects("sink-inputs");
  EXPECT_EQ(player.openSound(), 0);
  EXPECT_TRUE(player.soundOn());
  EXPECT_EQ(test::CountPulseObjects("sink-inputs"), before + 1);
  EXPECT_EQ(player.openSound(), 0) << "already on";
  EXPECT_EQ(test::CountPulseObjects("sink-inputs"), before + 1) << "opened once";
  EXPECT_EQ(player.closeSound(), 1);
  EXPECT_FALSE(player.soundOn());
  EXPECT_EQ(test::CountPulseObjects("sink-inputs"), before);
}

TEST_F(H264PlayerSound, OnlyWellFormedAudioFramesArePlayed) {
  CNetH264StreamPlay player;
  ASSERT_EQ(player.startPlay(), 1);
  player.openSound();
  ASSERT_TRUE(player.soundOn());
  const struct {
    uint8_t kind;
    size_t length;
    bool played;
  } cases[] = {
      {LUMVARA_FRAME_KIND_ADPCM, 511, false}, {LUMVARA_FRAME_KIND_ADPCM, 513, false},
      {LUMVARA_FRAME_KIND_ADPCM, 960, false}, {LUMVARA_FRAME_KIND_ALAW, 959, false},
      {LUMVARA_FRAME_KIND_ALAW, 961, false},  {LUMVARA_FRAME_KIND_ALAW, 512, false},
      {LUMVARA_FRAME_KIND_ADPCM, 512, true},  {LUMVARA_FRAME_KIND_ALAW, 960, true},
  };
  uint32_t expected = 0;
  for (const auto& c : cases) {
    const auto frame = streamFrame(c.kind, std::vector<uint8_t>(c.length, 0x55));
    EXPECT_EQ(player.inputNetFrame(frame.data(), sizeOf(frame)), 1);
    expected += c.played ? 1 : 0;
  }
  EXPECT_EQ(player.getListFrameNum(), 0) << "audio never goes to the video queue";
  ASSERT_TRUE(waitFor([&] { return player.trace().audioFramesPlayed == expected; }));
  std::this_thread::sleep_for(100ms);  // nothing more comes
  EXPECT_EQ(player.trace().audioFramesPlayed, expected);

  // Sound off: audio frames are dropped.
  EXPECT_EQ(player.closeSound(), 1);
  const auto frame = streamFrame(LUMVARA_FRAME_KIND_ALAW, std::vector<uint8_t>(960));
  EXPECT_EQ(player.inputNetFrame(frame.data(), sizeOf(frame)), 1);
  EXPECT_EQ(player.queuedAudioFrames(), 0u);
}

TEST_F(H264PlayerSound, CloseSoundEmptiesTheVideoQueue) {
  CNetH264StreamPlay::Options options;
  options.tickTimer = false;
  CNetH264StreamPlay player(options);
  ASSERT_EQ(player.startPlay(), 1);
  player.openSound();
  ASSERT_TRUE(player.soundOn());
  for (uint8_t kind : {LUMVARA_FRAME_KIND_H264_KEY, LUMVARA_FRAME_KIND_H264, LUMVARA_FRAME_KIND_H264}) {
    const auto frame = streamFrame(kind, std::vector<uint8_t>(32));
    player.inputNetFrame(frame.data(), sizeOf(frame));
  }
  EXPECT_EQ(player.getListFrameNum(), 3);
  EXPECT_EQ(player.closeSound(), 1);
  EXPECT_EQ(player.getListFrameNum(), 0);
}

TEST_F(H264PlayerSound, SoundSwitchedOnBeforeStartPlaysOnceStarted) {
  CNetH264StreamPlay player;
  player.openSound();
  ASSERT_TRUE(player.soundOn());
  ASSERT_EQ(player.startPlay(), 1);
  const auto frame = streamFrame(LUMVARA_FRAME_KIND_ALAW, std::vector<uint8_t>(960, 0x55));
  EXPECT_EQ(player.inputNetFrame(frame.data(), sizeOf(frame)), 1);
  EXPECT_TRUE(waitFor([&] { return player.trace().audioFramesPlayed == 1; }));
  EXPECT_EQ(player.stopPlay(), 1);
  EXPECT_FALSE(player.soundOn()) << "stopping ends the sound";
}

TEST_F(H264PlayerSound, SwitchingSoundRestartsTheRecordingIntoANewFile) {
  const auto root = std::filesystem::temp_directory_path() / ("h264-sound-record-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  LocalRecordRequest request{};
  std::strncpy(request.rootPath, root.c_str(), sizeof request.rootPath - 1);
  std::strcpy(request.cameraName, "cam");
  CNetH264StreamPlay player;
  ASSERT_EQ(player.startPlay(), 1);
  ASSERT_EQ(player.startlocalrecord(request), 1);
  const std::string first = player.recorder().FilePath();
  std::this_thread::sleep_for(5ms);  // file names carry milliseconds
  player.openSound();
  ASSERT_TRUE(player.soundOn());
  const std::string second = player.recorder().FilePath();
  EXPECT_FALSE(second.empty());
  EXPECT_NE(second, first);
  std::this_thread::sleep_for(5ms);  // the next file needs a later name too
  EXPECT_EQ(player.closeSound(), 1);
  EXPECT_NE(player.recorder().FilePath(), second);
  EXPECT_EQ(player.getrecordstatus(), 1);
  player.stopPlay();
  EXPECT_EQ(player.getrecordstatus(), 0);
  std::filesystem::remove_all(root);
}

int toPlayer(const unsigned char* frame, int length, void* player) {
  x_player_inputNetFrame(player, frame, length);
  return 0;
}

// Dominant frequency of a stretch of samples, from its zero crossings.
double crossingFrequency(const std::vector<int16_t>& samples, size_t from, size_t count) {
  size_t crossings = 0;
  for (size_t i = from + 1; i < from + count; ++i) {
    crossings += (samples[i - 1] < 0) != (samples[i] < 0) ? 1 : 0;
  }
  return static_cast<double>(crossings) / 2.0 / (static_cast<double>(count) / 8000.0);
}

TEST_F(H264PlayerSound, CameraToneReachesTheOutput) {
  test::SourceRecorder recorder("speaker.monitor");
  ASSERT_TRUE(recorder.ok());
  camsim::SimulatorOptions options;
  options.pwd = "secret";
  options.tone_hz = 1000;
  camsim::CameraSimulator simulator(options);
  ASSERT_TRUE(simulator.start()) << simulator.lastError();
  DeviceConnectInfo info{};
  std::strcpy(info.user, "admin");
  std::strcpy(info.pwd, "secret");
  std::strcpy(info.host, "127.0.0.1");
  info.port = simulator.port();
  void* device = device_net_work_createInstance(info);
  ASSERT_NE(device, nullptr);
  LumvaraPlayer player = x_player_createPlayInstance(LUMVARA_PLAYER_H264);
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(x_player_startPlay(player), 1);
  EXPECT_EQ(x_player_openSound(player), 0);
  ASSERT_EQ(device_net_work_startAudio(device, 10, toPlayer, player), 1);

  // Half a second of tone once it is heard.
  long at = -1;
  const bool heard = waitFor(
      [&] {
        const auto samples = recorder.Samples();
        at = test::FirstLoud(samples, 2000);
        return at >= 0 && samples.size() >= static_cast<size_t>(at) + 4000 + 400;
      },
      8s);
  device_net_work_destroyInstance(device);
  EXPECT_EQ(x_player_destroyPlayInstance(player), 1);
  simulator.stop();
  ASSERT_TRUE(heard) << "the camera's tone never reached the output";
  const auto samples = recorder.Samples();
  EXPECT_NEAR(crossingFrequency(samples, static_cast<size_t>(at) + 400, 4000), 1000.0, 60.0);
}

}  // namespace
}  // namespace lumvara
