#pragma once
// Writes the frames of a stream to a file: H.264 payloads (an elementary
// stream that starts at the first key frame) or whole frames, header first.
// Frames arrive on a receive thread; counts may be read from any thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lumvara::cli {

class StreamWriter {
 public:
  StreamWriter(const std::string& path, bool wholeFrames);
  ~StreamWriter();
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  bool opened() const { return file_ != nullptr; }
  // While paused, arriving frames are dropped (used while a stream is
  // being restarted elsewhere).
  void setPaused(bool paused) { paused_ = paused; }
  // False when a write failed (disk full, ...).
  bool close();

  // DeviceDataCallback shape; context is the writer.
  static int onFrame(const unsigned char* frame, int length, void* context);

  uint64_t frames() const { return frames_.load(); }
  uint64_t keyFrames() const { return keyFrames_.load(); }
  uint64_t bytes() const { return bytes_.load(); }
  // Milliseconds since the last frame arrived (or since construction).
  int64_t idleMs() const;

 private:
  void write(const unsigned char* data, size_t size);

  std::FILE* file_ = nullptr;
  const bool wholeFrames_;
  bool started_ = false;  // receive thread only
  std::atomic<bool> paused_{false};
  std::atomic<bool> writeFailed_{false};
  std::atomic<uint64_t> frames_{0};
  std::atomic<uint64_t> keyFrames_{0};
  std::atomic<uint64_t> bytes_{0};
  std::atomic<int64_t> lastFrameMs_;
};

}  // namespace lumvara::cli
