#pragma once
// CWaveIn: captures the default microphone for talk. Ten 1024-byte buffers
// (64 ms each) rotate through the device; each full one goes to the
// capture thread, which encodes it to 256 bytes of ADPCM and hands them to
// the talk callback, then gives the buffer back to the device.
//
// Threads: Start and Stop run on the caller's thread (serialised); the
// callback runs on the capture thread only, one block at a time in capture
// order, and never after Stop has returned.

#include "audio/adpcm.h"
#include "platform/wave/wave_buffer.h"
#include "platform/wave/wave_in_device.h"

#include <lumvara/audio.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace lumvara {

class CWaveIn {
 public:
  static constexpr int kBufferCount = 10;
  static constexpr std::uint32_t kBufferBytes = 1024;  // 512 samples, 64 ms
  // Largest block OnCaptureData encodes: the encoded output area's size
  // times four.
  static constexpr int kEncodedBlockBytes = 2500;

  CWaveIn() = default;
  // Stops capture first, so no thread or device outlives the object.
  virtual ~CWaveIn();
  CWaveIn(const CWaveIn&) = delete;
  CWaveIn& operator=(const CWaveIn&) = delete;

  // Encodes `byteCount` bytes of PCM and passes them to the talk callback
  // with length byteCount / 4. Dropped without a callback, or when the
  // block would not fit the encoded output area.
  virtual void OnCaptureData(const std::int16_t* samples, int byteCount);

  // Starts capture (each step skipped when already done). A null callback
  // changes nothing. 1 when capture is running, 0 otherwise.
  int Start(TalkDataCallback callback, void* user);

  // Stops capture, ends the capture thread, releases the buffers and
  // closes the device (each step skipped when not done). Always 1.
  int Stop();

  bool IsStarted() const { return started_; }
  bool IsThreadRunning() const { return threadRunning_; }

 private:
  enum class MessageKind { kData, kQuit };
  struct Message {
    MessageKind kind;
    WaveBuffer* header;
  };

  bool StartThread();
  void StopThread();
  bool OpenDevice();
  void CloseDevice();
  bool QueueBuffers();
  void ReleaseBuffers();
  void Post(Message message);
  void CaptureThread();
  static void DeviceDone(WaveBuffer* header, void* self);

  AdpcmState encoderState_{};  // capture thread only

  std::mutex callbackLock_;  // guards the callback and user value
  TalkDataCallback talkCallback_ = nullptr;
  void* userValue_ = nullptr;

  std::mutex controlLock_;  // serialises Start, Stop and destruction
  std::unique_ptr<WaveInDevice> device_;
  std::thread thread_;
  std::unique_ptr<WaveBuffer[]> headers_;
  bool threadRunning_ = false;
  bool open_ = false;
  bool queued_ = false;
  bool started_ = false;
  std::uint8_t buffers_[kBufferCount][kBufferBytes] = {};

  // The capture thread's message queue.
  std::mutex messageLock_;
  std::condition_variable messageReady_;
  std::deque<Message> messages_;
};

}  // namespace lumvara
