// The whole road on loopback: the camera simulator, a device, the H.264
// player through the exported calls, a headless window; snapshots read back
// by ImageMagick and recordings read back by FFmpeg.

#include <lumvara/device.h>
#include <lumvara/player.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/camsim/camera_simulator.h"
#include "player/h264_player_support.h"
#include "player/picture_fixtures.h"

namespace lumvara {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::run;

const bool noSoundServer = [] {
  ::setenv("PULSE_SERVER", "unix:/nonexistent/lumvara/pulse/native", 1);
  return true;
}();

// The video stream's duration as the file's header gives it.
double videoSeconds(const fs::path& file) {
  return std::atof(
      run("ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 '" + file.string() + "'")
          .c_str());
}

// Where the audio stream's last chunk ends: PCM streams carry no duration
// of their own in the header.
double audioSeconds(const fs::path& file) {
  const std::string packets =
      run("ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
          "-of csv=p=0 '" +
          file.string() + "'");
  const size_t last = packets.rfind('\n', packets.size() >= 2 ? packets.size() - 2 : 0);
  const std::string line = packets.substr(last == std::string::npos ? 0 : last + 1);
  const size_t comma = line.find(',');
  if (comma == std::string::npos) {
    return 0;
  }
  return std::atof(line.c_str()) + std::atof(line.c_str() + comma + 1);
}

// Under the thread checker the simulator, the device and the player run many
// times slower and frames arrive in bursts. The recorder keeps its video on
// a fixed 25 fps clock: it fills a stall with empty samples and still
// writes every late frame after them, so the video runs ahead of the sound
// there. Durations are compared in the other builds.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadChecked = true;
#else
constexpr bool kThreadChecked = false;
#endif

int toPlayer(const unsigned char* frame, int length, void* player) {
  x_player_inputNetFrame(player, frame, length);
  return 0;
}

class LiveH264Player : public ::testing::Test {
 protected:
  void start(camsim::SimulatorOptions options = {}) {
    options.pwd = "secret";
    simulator_ = std::make_unique<camsim::CameraSimulator>(options);
    ASSERT_TRUE(simulator_->start()) << simulator_->lastError();
    DeviceConnectInfo info{};
    std::strcpy(info.user, "admin");
    std::strcpy(info.pwd, "secret");
    std::strcpy(info.host, "127.0.0.1");
    info.port = simulator_->port();
    device_ = device_net_work_createInstance(info);
    ASSERT_NE(device_, nullptr);
    player_ = x_player_createPlayInstance(LUMVARA_PLAYER_H264);
    ASSERT_NE(player_, nullptr);
    ASSERT_EQ(x_player_setPlayWnd(player_, window_.handle()), 1);
    ASSERT_EQ(x_player_startPlay(player_), 1);
    ASSERT_EQ(device_net_work_startStream(device_, 10, toPlayer, player_), 1);
  }

  void TearDown() override {
    // The device's threads end first: nothing calls the player after.
    if (device_ != nullptr) {
      device_net_work_destroyInstance(device_);
    }
    if (player_ != nullptr) {
      EXPECT_EQ(x_player_destroyPlayInstance(player_), 1);
    }
    if (simulator_ != nullptr) {
      simulator_->stop();
    }
    if (!dir_.empty()) {
      if (std::getenv("KEEP_H264_TEST_FILES") == nullptr) fs::remove_all(dir_);
    }
  }

  bool waitForPicture() {
    return test::waitFor([&] {
      int width = 0;
      int height = 0;
      return x_player_getPlayPicSize(player_, &width, &height) == 1 && width > 0;
    });
  }

  const fs::path& scratch() {
    if (dir_.empty()) {
      dir_ = fs::temp_directory_path() / ("lumvara-live-h264-" + std::to_string(::getpid()));
      fs::create_directories(dir_);
    }
    return dir_;
  }

  test::HeadlessWindow window_{0, 0, 640, 360};
  std::unique_ptr<camsim::CameraSimulator> simulator_;
  void* device_ = nullptr;
  LumvaraPlayer player_ = nullptr;
  fs::path dir_;
};

TEST_F(LiveH264Player, ShowsTheCameraPicturesAsTheyAdvance) {
  start();
  ASSERT_TRUE(waitForPicture()) << "no picture from the camera";
  int width = 0;
  int height = 0;
  EXPECT_EQ(x_player_getPlayPicSize(player_, &width, &height), 1);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 360);

  // Each new picture in the window shows a later frame number.
  std::vector<uint8_t> last = window_.pixels();
  std::vector<long> numbers;
  while (numbers.size() < 8) {
    std::vector<uint8_t> now;
    ASSERT_TRUE(test::waitFor(
        [&] {
          now = window_.pixels();
          return now != last;
        },
        2s))
        << "the picture stopped changing";
    const std::string text = test::shownFrameNumber(now, 640, 360);
    if (text.find('?') == std::string::npos) {
      numbers.push_back(std::stol(text));
    }
    last = std::move(now);
  }
  for (size_t i = 1; i < numbers.size(); ++i) {
    EXPECT_GT(numbers[i], numbers[i - 1]) << "reading " << i;
  }
}

TEST_F(LiveH264Player, SnapshotIsABmpThatImageMagickReads) {
  start();
  ASSERT_TRUE(waitForPicture());
  const fs::path file = scratch() / "snapshot.bmp";
  ASSERT_EQ(x_player_capturePicture(player_, file.c_str()), 1);
  EXPECT_EQ(fs::file_size(file), 54u + 640u * 360u * 4u);
  EXPECT_EQ(run("identify -format '%m %w %h' '" + file.string() + "' 2>&1"), "BMP3 640 360");
}

TEST_F(LiveH264Player, RecordingWithSoundPlaysCleanlyWithMatchingDurations) {
  camsim::SimulatorOptions options;
  options.audio_kind = camsim::kKindAdpcm;
  start(options);
  ASSERT_EQ(device_net_work_startAudio(device_, 10, toPlayer, player_), 1);
  ASSERT_TRUE(waitForPicture());

  LocalRecordRequest request{};
  std::strncpy(request.rootPath, scratch().c_str(), sizeof request.rootPath - 1);
  std::strcpy(request.cameraName, "cam");
  ASSERT_EQ(x_player_startlocalrecord(player_, request), 1);
  EXPECT_EQ(x_player_getrecordstatus(player_), 1);
  std::this_thread::sleep_for(4500ms);  // a recording of a known length
  EXPECT_EQ(x_player_stoplocalrecord(player_), 1);
  EXPECT_EQ(x_player_getrecordstatus(player_), 0);

  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(scratch())) {
    if (entry.path().extension() == ".avi") {
      files.push_back(entry.path());
    }
  }
  ASSERT_FALSE(files.empty()) << "no recording";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null - 2>&1"), "");
    const double video = videoSeconds(file);
    const double audio = audioSeconds(file);
    EXPECT_GT(video, 3.0);
    EXPECT_GT(audio, 3.0);
    if (!kThreadChecked) {
      EXPECT_NEAR(video, audio, 0.5);
    }
  }
}

}  // namespace
}  // namespace lumvara
