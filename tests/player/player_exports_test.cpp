// The exported x_player_ calls: creation by type, the live-player check in
// front of every call, the drawing-layer token.

#include <lumvara/player.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "player/drawing_token.h"
#include "player/h264_player_support.h"
#include "player/live_player_list.h"
#include "player/picture_fixtures.h"

namespace lumvara {
namespace {

const bool noSoundServer = [] {
  ::setenv("PULSE_SERVER", "unix:/nonexistent/lumvara/pulse/native", 1);
  return true;
}();

struct HandleCall {
  const char* name;
  std::function<long(LumvaraPlayer)> call;
};

// Every call that takes a handle, except create and destroy.
std::vector<HandleCall> handleCalls(LumvaraWindow window, const std::vector<uint8_t>& frame, uint8_t* buffer) {
  return {
      {"startPlay", [](LumvaraPlayer p) { return x_player_startPlay(p); }},
      {"stopPlay", [](LumvaraPlayer p) { return x_player_stopPlay(p); }},
      {"inputNetFrame",
       [&frame](LumvaraPlayer p) { return x_player_inputNetFrame(p, frame.data(), static_cast<int>(frame.size())); }},
      {"getListFrameNum", [](LumvaraPlayer p) { return x_player_getListFrameNum(p); }},
      {"setPlayWnd", [window](LumvaraPlayer p) { return x_player_setPlayWnd(p, window); }},
      {"getPlayWnd", [](LumvaraPlayer p) { return x_player_getPlayWnd(p) != nullptr ? 1L : 0L; }},
      {"refreshLastPicture", [](LumvaraPlayer p) { return x_player_refreshLastPicture(p); }},
      {"openSound", [](LumvaraPlayer p) { return x_player_openSound(p); }},
      {"closeSound", [](LumvaraPlayer p) { return x_player_closeSound(p); }},
      {"startlocalrecord",
       [](LumvaraPlayer p) {
         LocalRecordRequest request{};
         std::strcpy(request.rootPath, "/tmp");
         std::strcpy(request.cameraName, "never");
         return x_player_startlocalrecord(p, request);
       }},
      {"stoplocalrecord", [](LumvaraPlayer p) { return x_player_stoplocalrecord(p); }},
      {"getrecordstatus", [](LumvaraPlayer p) { return x_player_getrecordstatus(p); }},
      {"capturePicture", [](LumvaraPlayer p) { return x_player_capturePicture(p, "/tmp/never-written.bmp"); }},
      {"capturePictureBuf", [buffer](LumvaraPlayer p) { return x_player_capturePictureBuf(p, buffer); }},
      {"getPlayPicSize",
       [](LumvaraPlayer p) {
         int width = 0;
         int height = 0;
         return x_player_getPlayPicSize(p, &width, &height);
       }},
      {"setOsdString",
       [](LumvaraPlayer p) {
         OsdStringRecord record{};
         return x_player_setOsdString(p, 0, &record);
       }},
      {"removeOsdstring", [](LumvaraPlayer p) { return x_player_removeOsdstring(p, 0); }},
      {"adjustViewArea", [](LumvaraPlayer p) { return x_player_adjustViewArea(p, 1, 1, 1, 1); }},
      {"setRenderEffect", [](LumvaraPlayer p) { return x_player_setRenderEffect(p, 1); }},
      {"renderActualProportion", [](LumvaraPlayer p) { return x_player_renderActualProportion(p, 1); }},
  };
}

class PlayerExports : public ::testing::Test {
 protected:
  test::HeadlessWindow window_{0, 0, 64, 36};
  std::vector<uint8_t> frame_ = test::streamFrame(LUMVARA_FRAME_KIND_H264_KEY, std::vector<uint8_t>(16));
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(64, 0xAB);
};

TEST_F(PlayerExports, CreatesByType) {
  EXPECT_EQ(x_player_createPlayInstance(2), nullptr);
  EXPECT_EQ(x_player_createPlayInstance(-1), nullptr);
  LumvaraPlayer h264 = x_player_createPlayInstance(LUMVARA_PLAYER_H264);
  ASSERT_NE(h264, nullptr);
  EXPECT_EQ(isLivePlayer(h264), 1);
  LumvaraPlayer mjpeg = x_player_createPlayInstance(LUMVARA_PLAYER_MJPEG);
  ASSERT_NE(mjpeg, nullptr);
  EXPECT_NE(mjpeg, h264);
  EXPECT_EQ(isLivePlayer(mjpeg), 1);
  EXPECT_EQ(x_player_getListFrameNum(mjpeg), 0);
  EXPECT_EQ(x_player_destroyPlayInstance(h264), 1);
  EXPECT_EQ(x_player_destroyPlayInstance(mjpeg), 1);
}

TEST_F(PlayerExports, EveryCallOnADeadHandleIsRefused) {
  LumvaraPlayer destroyedH264 = x_player_createPlayInstance(LUMVARA_PLAYER_H264);
  LumvaraPlayer destroyedMjpeg = x_player_createPlayInstance(LUMVARA_PLAYER_MJPEG);
  ASSERT_NE(destroyedH264, nullptr);
  ASSERT_NE(destroyedMjpeg, nullptr);
  ASSERT_EQ(x_player_destroyPlayInstance(destroyedH264), 1);
  ASSERT_EQ(x_player_destroyPlayInstance(destroyedMjpeg), 1);
  int notAPlayer = 0;
  const LumvaraPlayer dead[] = {destroyedH264, destroyedMjpeg, &notAPlayer, nullptr};
  for (LumvaraPlayer handle : dead) {
    for (const HandleCall& c : handleCalls(window_.handle(), frame_, buffer_.data())) {
      EXPECT_EQ(c.call(handle), 0) << c.name;
    }
    EXPECT_EQ(x_player_destroyPlayInstance(handle), 0);
  }
  for (uint8_t b : buffer_) {
    ASSERT_EQ(b, 0xAB);
  }
}

TEST_F(PlayerExports, ForwardsToALivePlayer) {
  LumvaraPlayer player = x_player_createPlayInstance(LUMVARA_PLAYER_H264);
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(x_player_inputNetFrame(player, frame_.data(), static_cast<int>(frame_.size())), 0) << "stopped";
  EXPECT_EQ(x_player_inputNetFrame(player, frame_.data(), -1), 0);
  EXPECT_EQ(x_player_setPlayWnd(player, window_.handle()), 1);
  EXPECT_EQ(x_player_setPlayWnd(player, nullptr), 0);
  EXPECT_EQ(x_player_getPlayWnd(player), window_.handle());
  EXPECT_EQ(x_player_startPlay(player), 1);
  EXPECT_EQ(x_player_inputNetFrame(player, frame_.data(), static_cast<int>(frame_.size())), 1);
  EXPECT_EQ(x_player_setOsdString(player, 16, nullptr), 0);
  OsdStringRecord record{};
  EXPECT_EQ(x_player_setOsdString(player, 15, &record), 1);
  EXPECT_EQ(x_player_setOsdString(player, 16, &record), 0);
  EXPECT_EQ(x_player_removeOsdstring(player, -1), 0);
  EXPECT_EQ(x_player_setRenderEffect(player, LUMVARA_EFFECT_HALF_TURN), 1);
  EXPECT_EQ(x_player_adjustViewArea(player, 0, 0, 0, 0), 1);
  EXPECT_EQ(x_player_renderActualProportion(player, 1), 1);
  EXPECT_EQ(x_player_openSound(player), 0) << "the H.264 player reports 0 for sound";
  EXPECT_EQ(x_player_closeSound(player), 1);
  int width = -1;
  int height = -1;
  EXPECT_EQ(x_player_getPlayPicSize(player, &width, &height), 1);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(x_player_stopPlay(player), 1);
  EXPECT_EQ(x_player_getListFrameNum(player), 0);
  EXPECT_EQ(x_player_capturePictureBuf(player, buffer_.data()), 0) << "stopped";
  EXPECT_EQ(buffer_[0], 0xAB);
  EXPECT_EQ(x_player_destroyPlayInstance(player), 1);
  EXPECT_EQ(x_player_destroyPlayInstance(player), 0);
}

TEST_F(PlayerExports, InitAndUninitBalanceTheDrawingToken) {
  ASSERT_FALSE(drawingStarted());
  EXPECT_EQ(x_player_initPlayLib(), 1);
  EXPECT_EQ(x_player_initPlayLib(), 1);
  EXPECT_EQ(x_player_uninitPlayLib(), 1);
  EXPECT_TRUE(drawingStarted()) << "one start-up is still open";
  EXPECT_EQ(x_player_uninitPlayLib(), 1);
  EXPECT_FALSE(drawingStarted());
  EXPECT_EQ(x_player_uninitPlayLib(), 1) << "an unbalanced shut-down is harmless";
  EXPECT_FALSE(drawingStarted());
  EXPECT_EQ(x_player_initPlayLib(), 1);
  EXPECT_TRUE(drawingStarted()) << "and does not eat the next start-up";
  EXPECT_EQ(x_player_uninitPlayLib(), 1);
}

}  // namespace
}  // namespace lumvara
