#pragma once
// The player interface every stream player implements: 21 operations in a
// fixed slot order (the destructor is slot 0). The base versions do nothing
// and return 0; each player overrides what it supports.
//
// Threads: inputNetFrame is called on the camera client's receive threads,
// the other operations usually on the window's thread. Callers check
// isLivePlayer() before every call; a player must not be destroyed while
// another thread is inside a call on it.

#include <lumvara/device.h>
#include <lumvara/player.h>
#include <lumvara/record.h>

#include <cstdint>

#include "platform/winsys/window.h"

namespace lumvara {

// Render effects are the public LUMVARA_EFFECT_* values (lumvara/player.h);
// the renderer reads them as mirror flags.

// A whole frame (header and payload) is at most this long.
inline constexpr uint32_t kFrameBlockSize = LUMVARA_FRAME_HEADER_SIZE + LUMVARA_FRAME_MAX_PAYLOAD;

// Now, as the players stamp a frame that reaches inputNetFrame: milliseconds
// since the Unix epoch (CLOCK_REALTIME), with fractions. The stamp goes with
// the frame to the window its picture is drawn into
// (lumvara_window_frame_input_time).
double FrameInputClockMillis();

class CNetStreamPlay {
 public:
  virtual ~CNetStreamPlay();
  CNetStreamPlay() = default;
  CNetStreamPlay(const CNetStreamPlay&) = delete;
  CNetStreamPlay& operator=(const CNetStreamPlay&) = delete;

  virtual int startPlay() { return 0; }
  virtual int stopPlay() { return 0; }
  virtual int setPlayWnd(winsys::HWND window) {
    (void)window;
    return 0;
  }
  virtual winsys::HWND getPlayWnd() { return nullptr; }
  virtual int refreshLastPicture() { return 0; }
  // `frame` points at a whole stream frame: the 32-byte header, then the
  // payload; `length` is their total.
  virtual int inputNetFrame(const uint8_t* frame, uint32_t length) {
    (void)frame;
    (void)length;
    return 0;
  }
  virtual int getListFrameNum() { return 0; }
  virtual int openSound() { return 0; }
  virtual int closeSound() { return 0; }
  virtual int setOsdString(int32_t index, const OsdStringRecord* record) {
    (void)index;
    (void)record;
    return 0;
  }
  virtual int removeOsdstring(int32_t index) {
    (void)index;
    return 0;
  }
  // `path` is a NUL-terminated file name.
  virtual int capturePicture(const char* path) {
    (void)path;
    return 0;
  }
  // `buffer` holds 54 + width * height * 4 bytes (getPlayPicSize).
  virtual int capturePictureBuf(uint8_t* buffer) {
    (void)buffer;
    return 0;
  }
  virtual int getPlayPicSize(int32_t* width, int32_t* height) {
    (void)width;
    (void)height;
    return 0;
  }
  virtual int adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom) {
    (void)left;
    (void)right;
    (void)top;
    (void)bottom;
    return 0;
  }
  virtual int setRenderEffect(int32_t effect) {
    (void)effect;
    return 0;
  }
  virtual int renderActualProportion(int32_t flag) {
    (void)flag;
    return 0;
  }
  virtual int startlocalrecord(LocalRecordRequest request) {
    (void)request;
    return 0;
  }
  virtual int stoplocalrecord() { return 0; }
  virtual int getrecordstatus() { return 0; }
};

}  // namespace lumvara
