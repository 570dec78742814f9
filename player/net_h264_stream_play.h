#pragma once
// CNetH264StreamPlay: the player for H.264 cameras (player type 0).
//
// Frames come in whole through inputNetFrame and are sorted into a video
// queue and an audio queue. A 30 ms periodic tick releases at most one video
// frame to the decode thread, which decodes it, copies the picture out as
// packed I420 and hands it to the renderer, which draws it with its
// on-screen texts into the player's window. The audio thread turns ADPCM
// (512-byte) and A-law (960-byte) frames into PCM for CWaveOut. While a
// recording runs, every frame given to inputNetFrame is also written to the
// recorder, whether or not the player is playing; each file starts with a
// key frame.
//
// Video queue policy: up to 10 frames are queued. A key frame arriving at
// 10 replaces the whole queue; any other frame arriving at 10 is dropped
// and the queue then waits for a key frame, dropping every other frame
// until one comes; that key frame is appended (while fewer than 20 wait)
// and ends the wait. Until the decode side has taken its first key frame
// after start, other video frames are discarded when dequeued.
//
// Threads: inputNetFrame runs on the camera client's receive thread, the
// other operations usually on the window's thread; the tick timer thread
// only wakes the decode thread. Locks: video queue, audio queue, picture
// (the renderer's) and record lock; no path holds two of them at once.

#include <lumvara/device.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/adpcm.h"
#include "audio/wave_out.h"
#include "platform/h264/h264_decoder.h"
#include "platform/sync/event.h"
#include "platform/sync/periodic_timer.h"
#include "player/frame_block_pool.h"
#include "player/net_stream_play.h"
#include "player/video_renderer.h"
#include "record/avi_recorder.h"

namespace lumvara {

// Room for the largest packed I420 picture the player shows (2560 x 1440);
// a larger picture ends the decode thread until the next start.
inline constexpr uint32_t kPictureBufferBytes = 22118400;

// Period of the decode tick.
inline constexpr uint32_t kDecodeTickMs = 30;

// Video queue limits.
inline constexpr size_t kVideoQueueLimit = 10;
inline constexpr size_t kVideoQueueWaitLimit = 20;

// What the decode side has done since construction; tests and benchmarks
// read it.
struct H264PlayTrace {
  uint32_t framesTaken = 0;        // frames handed to the decoder
  uint32_t picturesShown = 0;      // pictures loaded and presented
  uint32_t lastTakenTime = 0;      // `time` of the last frame taken
  uint32_t lastShownTime = 0;      // `time` of the last picture presented
  uint32_t audioFramesPlayed = 0;  // audio frames handed to the sound output
  uint32_t keyFrameWaits = 0;      // times a full queue started waiting for a key frame
};

class CNetH264StreamPlay : public CNetStreamPlay {
 public:
  struct Options {
    // The periodic decode tick. Tests of the queue policy switch it off
    // and release frames one by one with tick().
    bool tickTimer = true;
  };

  CNetH264StreamPlay();
  explicit CNetH264StreamPlay(Options options);
  ~CNetH264StreamPlay() override;

  int startPlay() override;
  int stopPlay() override;
  int setPlayWnd(winsys::HWND window) override;
  winsys::HWND getPlayWnd() override;
  int refreshLastPicture() override;
  int inputNetFrame(const uint8_t* frame, uint32_t length) override;
  int getListFrameNum() override;
  int openSound() override;
  int closeSound() override;
  int setOsdString(int32_t index, const OsdStringRecord* record) override;
  int removeOsdstring(int32_t index) override;
  int capturePicture(const char* path) override;
  int capturePictureBuf(uint8_t* buffer) override;
  int getPlayPicSize(int32_t* width, int32_t* height) override;
  int adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom) override;
  int setRenderEffect(int32_t effect) override;
  int renderActualProportion(int32_t flag) override;
  int startlocalrecord(LocalRecordRequest request) override;
  int stoplocalrecord() override;
  int getrecordstatus() override;

  // --- for tests and benchmarks ---

  // Wakes the decode thread as the tick timer does.
  void tick();
  bool waitingForKeyFrame() const { return waitingForKeyFrame_.load(); }
  bool soundOn() const { return soundOn_.load(); }
  // Headers of the frames in the video queue, oldest first.
  std::vector<StreamFrameHeader> queuedVideoHeaders();
  size_t queuedAudioFrames();
  H264PlayTrace trace() const;
  VideoRenderer& renderer() { return renderer_; }
  CAviRecorder& recorder() { return recorder_; }

 private:
  using FrameQueue = std::deque<FrameBlock>;

  void queueVideo(FrameBlock block);
  FrameBlock takeVideoFrame();
  void decodeLoop();
  bool decodeFrame(const uint8_t* block);
  void audioLoop();
  void playAudioFrame(const uint8_t* block);
  void recordFrame(const StreamFrameHeader& header, const uint8_t* payload);
  void restartRecordingLocked();
  void restartRecording();
  void flushVideoQueue();
  void startAudioThread();
  void joinAudioThread();

  const Options options_;

  AdpcmState playAdpcm_{};
  AdpcmState recordAdpcm_{};  // guarded by recordLock_

  std::atomic<bool> keyFrameSeen_{false};
  std::atomic<bool> waitingForKeyFrame_{false};
  std::atomic<bool> playing_{false};

  // Owned from startPlay to stopPlay. The decode thread fills the decode
  // buffer outside the picture lock and swaps it with the last picture
  // under the lock, so the last picture is always whole.
  std::unique_ptr<uint8_t[]> decodeBuffer_;
  std::unique_ptr<uint8_t[]> lastPicture_;  // guarded by the picture lock
  int32_t lastPictureWidth_ = 0;            // guarded by the picture lock
  int32_t lastPictureHeight_ = 0;
  std::unique_ptr<H264Decoder> decoder_;
  std::thread decodeThread_;

  // Declared before the queues: their blocks go back to it.
  FrameBlockPool pool_;

  std::mutex audioQueueLock_;
  FrameQueue audioQueue_;  // guarded by audioQueueLock_
  Event audioWake_{Event::Reset::Auto};
  std::thread audioThread_;

  PeriodicTimer tickTimer_;
  Event tickEvent_{Event::Reset::Auto};

  VideoRenderer renderer_;
  std::atomic<int32_t> pictureWidth_{0};
  std::atomic<int32_t> pictureHeight_{0};

  CWaveOut soundOutput_;
  std::atomic<bool> soundOn_{false};

  std::mutex recordLock_;
  CAviRecorder recorder_;               // guarded by recordLock_
  std::atomic<bool> recording_{false};  // written under recordLock_
  LocalRecordRequest storedRequest_{};  // guarded by recordLock_
  bool recordAwaitsKeyFrame_ = false;   // guarded by recordLock_

  std::atomic<winsys::HWND> window_{nullptr};

  std::mutex videoQueueLock_;
  FrameQueue videoQueue_;  // guarded by videoQueueLock_

  std::atomic<uint32_t> framesTaken_{0};
  std::atomic<uint32_t> picturesShown_{0};
  std::atomic<uint32_t> lastTakenTime_{0};
  std::atomic<uint32_t> lastShownTime_{0};
  std::atomic<uint32_t> audioFramesPlayed_{0};
  std::atomic<uint32_t> keyFrameWaits_{0};
};

}  // namespace lumvara
