#pragma once
// CNetJpegStreamPlay: the player for cameras that send each picture as one
// JPEG image (frame kind 3), player type 1. Pictures wait in a short queue;
// each 30 ms tick the render thread decodes one, stretches it over the whole
// client area of the window (proportions not kept) through an off-screen
// surface and one blit, writes the text entries in client coordinates and
// mirrors the picture as the render effect asks. A snapshot saves the next
// picture's JPEG bytes unchanged. ADPCM sound is decoded on the caller's
// thread and played through CWaveOut; the recorder gets the JPEG pictures
// as they arrive (codec MJPEG) and begins a new file whenever the picture
// width changes.
//
// The drawing layer must be started (drawingStartup) while pictures are to
// be shown: without it pictures are decoded, recorded and captured, but
// nothing is drawn.
//
// Threads: inputNetFrame runs on the camera client's receive thread; the
// other operations come from the window's thread (any thread is safe); the
// render thread draws into the window; the tick timer thread only sets the
// tick event.

#include <lumvara/player.h>
#include <lumvara/record.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/adpcm.h"
#include "audio/wave_out.h"
#include "platform/sync/event.h"
#include "platform/sync/periodic_timer.h"
#include "platform/winsys/window.h"
#include "player/net_stream_play.h"
#include "player/on_screen_display.h"
#include "record/avi_recorder.h"

namespace lumvara {

class JpegDecoder;
struct BgrxImage;
namespace gfx {
class Surface;
}

struct JpegPlayerOptions {
  // Period of the tick that releases one picture to the render thread.
  // 0 starts no timer: only tick() releases pictures (tests step the
  // render thread this way).
  uint32_t tickMs = 30;
  // How long capturePicture waits for the next picture.
  uint32_t captureWaitMs = 200;
  RecorderEnvironment recorder;
};

// What the render thread has done since the player was created.
struct JpegPlayerCounters {
  uint64_t ticks = 0;     // ticks served, with or without a picture
  uint64_t pictures = 0;  // JPEG frames taken from the queue
  uint64_t drawn = 0;     // pictures drawn into the window
};

class CNetJpegStreamPlay : public CNetStreamPlay {
 public:
  // At most this many frames wait; one more empties the queue first.
  static constexpr size_t kMaxQueuedFrames = 11;
  CNetJpegStreamPlay();
  explicit CNetJpegStreamPlay(JpegPlayerOptions options);
  ~CNetJpegStreamPlay() override;

  int startPlay() override;
  int stopPlay() override;
  // Any value, null included, is stored; 1.
  int setPlayWnd(winsys::HWND window) override;
  winsys::HWND getPlayWnd() override;
  // Decodes and draws the last picture again on the calling thread. 0
  // before any picture, after stopPlay, or when the window cannot be drawn
  // into.
  int refreshLastPicture() override;
  // Records the frame when recording (also while stopped); 0 when not
  // playing or when the frame is malformed (its header announces more
  // payload than was given, or more than a frame may carry). ADPCM frames
  // are played at once when sound is on and never queued; every other
  // kind is queued and only JPEG pictures are shown.
  int inputNetFrame(const uint8_t* frame, uint32_t length) override;
  // 1 when the sound output is open (also when it already was), 0 when it
  // cannot be opened.
  int openSound() override;
  int closeSound() override;
  int setOsdString(int32_t index, const OsdStringRecord* record) override;
  // Switches the entry off and clears its record.
  int removeOsdstring(int32_t index) override;
  // Writes the next picture's JPEG bytes to `path`. 1 when written; 0 when
  // a capture is already pending, no picture came in time
  // (always so while stopped), or the file could not be written.
  int capturePicture(const char* path) override;
  int setRenderEffect(int32_t effect) override;
  int startlocalrecord(LocalRecordRequest request) override;
  int stoplocalrecord() override;
  int getrecordstatus() override;
  // getListFrameNum, capturePictureBuf, getPlayPicSize, adjustViewArea and
  // renderActualProportion are not supported: the base versions return 0.

  // Sets the tick event as the timer does; any thread.
  void tick();

  // For tests and diagnostics; any thread.
  size_t queuedFrames();
  JpegPlayerCounters counters() const;
  bool capturePending();
  std::string recordFilePath();

 private:
  struct Frame {
    uint8_t kind = 0;
    uint32_t time = 0;
    int8_t zone = 0;
    double inputMillis = 0;  // when inputNetFrame received it (FrameInputClockMillis)
    std::vector<uint8_t> payload;
  };
  using FramePtr = std::shared_ptr<const Frame>;

  // What the render thread keeps from one picture to the next, so that a
  // steady stream allocates nothing per picture.
  struct DrawBuffers {
    std::unique_ptr<gfx::Surface> picture;    // the decoded image
    std::unique_ptr<gfx::Surface> offscreen;  // client-area sized
  };

  void renderLoop();
  FramePtr dequeuePicture();
  void serveCapture(const Frame& frame);
  void restartRecordingLocked();
  void recordFrame(uint8_t kind, const uint8_t* payload, uint32_t length);
  // Decodes, mirrors and draws one picture; false when the window's
  // drawing context cannot be obtained. The render thread also keeps the
  // picture size and restarts the recording when the width changes.
  bool showPicture(const Frame& frame, JpegDecoder& decoder, BgrxImage& image, DrawBuffers& buffers,
                   bool fromRenderThread);
  bool drawPicture(const BgrxImage& image, const Frame& frame, DrawBuffers& buffers);

  const JpegPlayerOptions options_;

  std::mutex playLock_;  // serialises startPlay and stopPlay
  std::atomic<bool> playing_{false};
  std::thread renderThread_;
  PeriodicTimer timer_;
  Event tickEvent_{Event::Reset::Auto};

  std::mutex queueLock_;
  std::deque<FramePtr> queue_;  // guarded by queueLock_
  FramePtr lastFrame_;          // guarded by queueLock_
  AdpcmState adpcm_{};          // guarded by queueLock_

  std::atomic<winsys::HWND> window_{nullptr};
  std::atomic<int32_t> pictureWidth_{0};
  std::atomic<int32_t> pictureHeight_{0};
  std::atomic<int32_t> renderEffect_{LUMVARA_EFFECT_NONE};

  std::mutex osdLock_;
  OsdEntries entries_;  // guarded by osdLock_

  std::mutex captureLock_;
  std::condition_variable captureDone_;
  bool capturePending_ = false;  // guarded by captureLock_
  bool captureServed_ = false;
  bool captureWritten_ = false;
  std::string capturePath_;

  std::mutex soundLock_;  // serialises openSound and closeSound
  std::atomic<bool> soundOn_{false};
  CWaveOut waveOut_;

  std::mutex recordLock_;
  std::atomic<bool> recording_{false};
  LocalRecordRequest request_{};  // guarded by recordLock_
  CAviRecorder recorder_;

  std::atomic<uint64_t> ticks_{0};
  std::atomic<uint64_t> pictures_{0};
  std::atomic<uint64_t> drawn_{0};
};

}  // namespace lumvara
