#pragma once
// Draws the H.264 player's decoded pictures into its window. A packed I420
// picture is converted into an off-screen BGRX surface; each presentation
// may crop it by margins, fit it into the window with its proportions kept,
// mirror it, write the on-screen texts onto it, serve a pending snapshot,
// and stretches it into the window, clipped to the window.
//
// The renderer notices by itself when the window changes (another window,
// moved, resized) or the picture size changes, and rebuilds only what that
// change needs. Any failure releases everything; the next picture starts
// from scratch.
//
// Locking: loadPicture, presentPicture, release and setFrameTime run under
// pictureLock(), held by the caller (the decode thread, or the window thread
// redrawing the last picture). The settings are plain values any thread may
// write at any time; they take effect at the next presentation. Text entries
// and snapshot requests take the picture lock themselves, so a presentation
// never sees half an entry and a withdrawn request is never served.

#include <lumvara/player.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/gfx/surface.h"
#include "platform/winsys/rect.h"
#include "platform/winsys/window.h"
#include "player/on_screen_display.h"
#include "player/view_geometry.h"

namespace lumvara {

// How long a snapshot requester waits for the next presentation.
inline constexpr std::chrono::milliseconds kCaptureWait{200};

enum class CaptureResult {
  Refused,   // another request is pending
  Written,   // the next presentation served it
  TimedOut,  // nothing served it in time; the request was withdrawn
};

// What the renderer has set up, counted since construction; tests use them
// to see which changes rebuild what.
struct RendererCounters {
  uint32_t displaySetups = 0;  // screen destination taken from the window rectangle
  uint32_t clipSetups = 0;     // clipping bound to a window
  uint32_t surfaceBuilds = 0;  // off-screen surfaces created
  uint32_t releases = 0;       // everything released
};

class VideoRenderer {
 public:
  VideoRenderer();
  ~VideoRenderer();
  VideoRenderer(const VideoRenderer&) = delete;
  VideoRenderer& operator=(const VideoRenderer&) = delete;

  std::mutex& pictureLock() { return pictureLock_; }

  // --- under pictureLock() ---

  // Time and zone of the picture about to be loaded, for time stamps, and
  // when its frame reached the player (FrameInputClockMillis), which goes
  // into the window with the picture's pixels.
  void setFrameTime(int64_t time, int8_t zone, double inputMillis = 0);

  // Makes the window set-up and the surface fit `window` and the picture
  // size, then converts the packed I420 picture (luma width x height bytes,
  // then two planes of (width / 2) x (height / 2)). False when nothing was
  // loaded: a hidden or dead window, an empty window rectangle, or a
  // failure (then everything was released). Nothing may be presented then.
  bool loadPicture(const uint8_t* picture, int32_t width, int32_t height, winsys::HWND window);

  // Presents the loaded picture.
  void presentPicture();

  // Releases the surface and the window set-up and forgets the window and
  // the picture size. Settings and text entries stay.
  void release();

  // --- any thread ---

  // Margins cut from the picture; switches margins on.
  void adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom);
  void setRenderEffect(int32_t effect);
  void renderActualProportion(int32_t flag);

  // Index 0 to 15, else 0. Copies the record and switches the entry on.
  int setOsdString(int32_t index, const OsdStringRecord& record);
  // Index 0 to 15, else 0. Switches the entry off; the record stays.
  int removeOsdstring(int32_t index);

  // Asks for a snapshot of the next presented picture: a BMP file at
  // `path`, or (path null) a BMP image in `buffer`, which must hold
  // 54 + width x height x 4 bytes. Waits at most `wait`. When it returns,
  // the request is either served or withdrawn: `buffer` is never written
  // afterwards. The buffer is filled only from a picture of the size the
  // renderer reported when the request was made, so a size change in the
  // meantime can never write past the caller's buffer (it times out).
  CaptureResult capture(const char* path, uint8_t* buffer, std::chrono::milliseconds wait = kCaptureWait);

  // Whether a snapshot request is waiting for a presentation; a caller
  // that wants its next picture to meet the request can wait for this.
  bool capturePending() {
    std::lock_guard<std::mutex> guard(pictureLock_);
    return capture_.pending;
  }

  // The size of the picture last loaded; 0 x 0 when there is none.
  int32_t width() const { return width_.load(); }
  int32_t height() const { return height_.load(); }

  // Takes the picture lock.
  RendererCounters counters();

 private:
  struct CaptureRequest {
    bool pending = false;
    bool served = false;
    std::string path;  // empty: the buffer form
    uint8_t* buffer = nullptr;
    // The picture size when the buffer was handed over: the caller sized
    // the buffer from it, so only a picture of that size may fill it.
    int32_t bufferWidth = 0;
    int32_t bufferHeight = 0;
  };

  bool prepareWindow(winsys::HWND window, int32_t width, int32_t height);
  bool serveCapture(const gfx::Surface& surface);
  void drawTexts(gfx::Surface& surface, const winsys::Rect& source, const winsys::Rect& destination);

  std::mutex pictureLock_;
  std::condition_variable captureDone_;

  // Guarded by pictureLock_.
  winsys::HWND window_ = nullptr;
  winsys::Rect windowRect_;
  winsys::Rect destinationRect_;
  std::unique_ptr<gfx::Surface> surface_;
  OsdEntries entries_;
  CaptureRequest capture_;
  int64_t frameTime_ = 0;
  int8_t zone_ = 0;
  double frameInputMillis_ = 0;
  RendererCounters counters_;

  // Written by any thread, read at the next presentation.
  std::atomic<int32_t> width_{0};
  std::atomic<int32_t> height_{0};
  std::atomic<bool> viewAreaOn_{false};
  std::atomic<int32_t> marginLeft_{0};
  std::atomic<int32_t> marginTop_{0};
  std::atomic<int32_t> marginRight_{0};
  std::atomic<int32_t> marginBottom_{0};
  std::atomic<bool> eraseRequest_{false};
  std::atomic<bool> keepProportion_{false};
  std::atomic<int32_t> renderEffect_{LUMVARA_EFFECT_NONE};
};

}  // namespace lumvara
