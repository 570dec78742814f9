// The SD playback frame callback on its own: which frames reach the player
// while the control waits for a key frame or picture, and what the progress
// notices count. Frames are handed in by the test as the playback thread
// would; the player is a test player that records what it is given.
#include <gtest/gtest.h>
#include <lumvara/device.h>
#include <lumvara/window.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "control/lumvara_ctrl.h"
#include "player/live_player_list.h"
#include "player/net_stream_play.h"

namespace control_test {
namespace {

using lumvara::control::CLumvaraCtrl;
using lumvara::control::DispatchValue;

class RecordingPlayer final : public lumvara::CNetStreamPlay {
 public:
  int inputNetFrame(const uint8_t* frame, uint32_t length) override {
    kinds.push_back(frame[offsetof(StreamFrameHeader, kind)]);
    lengths.push_back(length);
    return 0;
  }
  std::vector<uint8_t> kinds;
  std::vector<uint32_t> lengths;
};

class RecordingEvents final : public lumvara::control::ControlEvents {
 public:
  void FireEvent(int eventDispid, std::vector<DispatchValue> args) override {
    if (eventDispid == lumvara::control::event_dispid::kMessageNotify && args.size() == 2 && args[0].lVal == 10) {
      progress.push_back(args[1].lVal);
    }
  }
  void PropertyChanged(int) override {}
  std::vector<int32_t> progress;
};

std::vector<unsigned char> Frame(uint8_t kind, size_t payload) {
  std::vector<unsigned char> frame(sizeof(StreamFrameHeader) + payload, 0xA5);
  StreamFrameHeader header{};
  header.magic = LUMVARA_FRAME_MAGIC;
  header.kind = kind;
  header.length = static_cast<uint32_t>(payload);
  std::memcpy(frame.data(), &header, sizeof header);
  return frame;
}

struct FrameCase {
  const char* name;
  std::vector<uint8_t> sent;   // kinds in arrival order
  std::vector<uint8_t> shown;  // kinds the player gets
};

class SdFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    top_ = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "sd frames", 200, 150);
    ASSERT_NE(top_, nullptr);
    ASSERT_TRUE(ctrl_.CreateControlWindow(top_, {0, 0, 200, 150}));
    lumvara::appendLivePlayer(&player_);
    ctrl_.m_pPlayer = &player_;
    // As after SdRecordFilePlay; the window is going away, so the callback
    // does not pause 40 ms per frame.
    ctrl_.m_bWaitKeyFrame = 1;
    ctrl_.m_nSdBytes = 0;
    ctrl_.m_bClosing = 1;
  }
  void TearDown() override {
    ctrl_.m_pPlayer = nullptr;
    lumvara::removeLivePlayer(&player_);
    ctrl_.DestroyControlWindow();
    lumvara_window_destroy(top_);
  }
  bool PumpUntilNotices(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (events_.progress.size() < count) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      lumvara_window_pump(10);
    }
    return true;
  }

  LumvaraWindow top_ = nullptr;
  RecordingEvents events_;
  CLumvaraCtrl ctrl_{&events_};
  RecordingPlayer player_;
};

class SdFrames : public SdFrameTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(SdFrames, WaitsForAKeyFrameAndCountsEveryFrame) {
  const FrameCase& c = GetParam();
  int32_t total = 0;
  for (size_t i = 0; i < c.sent.size(); ++i) {
    // Frames of different sizes, so each length shows in the count.
    const auto frame = Frame(c.sent[i], 100 + 37 * i);
    CLumvaraCtrl::OnSdFrame(frame.data(), static_cast<int>(frame.size()), &ctrl_);
    total += static_cast<int32_t>(frame.size());
    // Each frame's notice reports the count with that frame's whole length.
    ASSERT_TRUE(PumpUntilNotices(i + 1));
    EXPECT_EQ(events_.progress.back(), total) << "frame " << i;
  }
  EXPECT_EQ(player_.kinds, c.shown);
}

constexpr uint8_t kKey = LUMVARA_FRAME_KIND_H264_KEY;
constexpr uint8_t kOther = LUMVARA_FRAME_KIND_H264;
constexpr uint8_t kJpeg = LUMVARA_FRAME_KIND_JPEG;
constexpr uint8_t kAudio = LUMVARA_FRAME_KIND_ALAW;

INSTANTIATE_TEST_SUITE_P(
    Streams, SdFrames,
    ::testing::Values(FrameCase{"H264StartsAtTheKeyFrame", {kOther, kOther, kKey, kOther, kKey}, {kKey, kOther, kKey}},
                      FrameCase{"AudioBeforeAPictureIsDropped", {kAudio, kJpeg, kAudio, kJpeg}, {kJpeg, kAudio, kJpeg}},
                      FrameCase{"NoKeyFrameNothingShown", {kOther, kAudio, kOther}, {}}),
    [](const ::testing::TestParamInfo<FrameCase>& param) { return std::string(param.param.name); });

// A seek waits for a key frame again and counts from the new position.
TEST_F(SdFrameTest, AfterASeekCountsFromThePosition) {
  const auto key = Frame(kKey, 400);
  const auto other = Frame(kOther, 120);
  CLumvaraCtrl::OnSdFrame(key.data(), static_cast<int>(key.size()), &ctrl_);
  ASSERT_TRUE(PumpUntilNotices(1));
  // What SdRecordFileSetPos(1000000) leaves (without a camera device it does
  // nothing, so its two stores are made here).
  ctrl_.m_nSdBytes = 1000000;
  ctrl_.m_bWaitKeyFrame = 1;
  CLumvaraCtrl::OnSdFrame(other.data(), static_cast<int>(other.size()), &ctrl_);
  ASSERT_TRUE(PumpUntilNotices(2));
  EXPECT_EQ(events_.progress.back(), 1000000 + static_cast<int32_t>(other.size()));
  CLumvaraCtrl::OnSdFrame(key.data(), static_cast<int>(key.size()), &ctrl_);
  ASSERT_TRUE(PumpUntilNotices(3));
  EXPECT_EQ(events_.progress.back(), 1000000 + static_cast<int32_t>(other.size() + key.size()));
  EXPECT_EQ(player_.kinds, (std::vector<uint8_t>{kKey, kKey}));
}

}  // namespace
}  // namespace control_test
