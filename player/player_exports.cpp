// The exported player calls: each checks the live-player list before it
// touches a player, then forwards to one operation of the player.

#include <lumvara/player.h>

#include <new>

#include "player/drawing_token.h"
#include "player/live_player_list.h"
#include "player/net_h264_stream_play.h"
#include "player/net_jpeg_stream_play.h"
#include "player/net_stream_play.h"

using lumvara::CNetStreamPlay;

namespace {

// The live player behind `handle`, or null when it is not live.
CNetStreamPlay* livePlayer(LumvaraPlayer handle) {
  return lumvara::isLivePlayer(handle) != 0 ? static_cast<CNetStreamPlay*>(handle) : nullptr;
}

CNetStreamPlay* createPlayer(int type) {
  switch (type) {
    case LUMVARA_PLAYER_H264:
      return new (std::nothrow) lumvara::CNetH264StreamPlay();
    case LUMVARA_PLAYER_MJPEG:
      return new (std::nothrow) lumvara::CNetJpegStreamPlay();
    default:
      return nullptr;
  }
}

}  // namespace

LUMVARA_API int x_player_initPlayLib(void) {
  lumvara::drawingStartup();
  return 1;
}

LUMVARA_API int x_player_uninitPlayLib(void) {
  lumvara::drawingShutdown();
  return 1;
}

LUMVARA_API LumvaraPlayer x_player_createPlayInstance(int type) {
  CNetStreamPlay* player = createPlayer(type);
  if (player == nullptr) {
    return nullptr;
  }
  // The list owns it from here until x_player_destroyPlayInstance.
  lumvara::appendLivePlayer(player);
  return player;
}

LUMVARA_API int x_player_destroyPlayInstance(LumvaraPlayer player) {
  if (player == nullptr || !lumvara::removeLivePlayer(player)) {
    return 0;
  }
  // Out of the list, so no other call starts on it any more; whoever
  // appended it handed its ownership to the list.
  auto* instance = static_cast<CNetStreamPlay*>(player);
  instance->stopPlay();
  delete instance;
  return 1;
}

LUMVARA_API int x_player_startPlay(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->startPlay() : 0;
}

LUMVARA_API int x_player_stopPlay(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->stopPlay() : 0;
}

LUMVARA_API int x_player_inputNetFrame(LumvaraPlayer player, const unsigned char* frame, int length) {
  CNetStreamPlay* live = livePlayer(player);
  if (live == nullptr || length < 0) {
    return 0;
  }
  return live->inputNetFrame(frame, static_cast<uint32_t>(length));
}

LUMVARA_API int x_player_getListFrameNum(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->getListFrameNum() : 0;
}

LUMVARA_API int x_player_setPlayWnd(LumvaraPlayer player, LumvaraWindow window) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->setPlayWnd(window) : 0;
}

LUMVARA_API LumvaraWindow x_player_getPlayWnd(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->getPlayWnd() : nullptr;
}

LUMVARA_API int x_player_refreshLastPicture(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->refreshLastPicture() : 0;
}

LUMVARA_API int x_player_openSound(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->openSound() : 0;
}

LUMVARA_API int x_player_closeSound(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->closeSound() : 0;
}

LUMVARA_API int x_player_startlocalrecord(LumvaraPlayer player, LocalRecordRequest request) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->startlocalrecord(request) : 0;
}

LUMVARA_API int x_player_stoplocalrecord(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->stoplocalrecord() : 0;
}

LUMVARA_API int x_player_getrecordstatus(LumvaraPlayer player) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->getrecordstatus() : 0;
}

LUMVARA_API int x_player_capturePicture(LumvaraPlayer player, const char* path) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->capturePicture(path) : 0;
}

LUMVARA_API int x_player_capturePictureBuf(LumvaraPlayer player, unsigned char* buffer) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->capturePictureBuf(buffer) : 0;
}

LUMVARA_API int x_player_getPlayPicSize(LumvaraPlayer player, int* width, int* height) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->getPlayPicSize(width, height) : 0;
}

LUMVARA_API int x_player_setOsdString(LumvaraPlayer player, int index, const OsdStringRecord* record) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->setOsdString(index, record) : 0;
}

LUMVARA_API int x_player_removeOsdstring(LumvaraPlayer player, int index) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->removeOsdstring(index) : 0;
}

LUMVARA_API int x_player_adjustViewArea(LumvaraPlayer player, int left, int right, int top, int bottom) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->adjustViewArea(left, right, top, bottom) : 0;
}

LUMVARA_API int x_player_setRenderEffect(LumvaraPlayer player, int effect) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->setRenderEffect(effect) : 0;
}

LUMVARA_API int x_player_renderActualProportion(LumvaraPlayer player, int flag) {
  CNetStreamPlay* live = livePlayer(player);
  return live != nullptr ? live->renderActualProportion(flag) : 0;
}
