#pragma once
// CWaveOut: plays the camera's audio on the default output. Five 2048-byte
// buffers rotate through the device; each one that finishes is refilled
// with the oldest queued chunk, or with silence when the queue is empty, so
// the output never runs dry while sound is on.
//
// Threads: QueueData runs on the player's audio thread, buffer completions
// on the sound server's thread; only the chunk queue is shared. Open and
// Close are called by the player with its audio thread stopped.

#include "platform/wave/wave_buffer.h"
#include "platform/wave/wave_out_device.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

namespace lumvara {

class CWaveOut {
 public:
  static constexpr std::size_t kBufferCount = 5;
  static constexpr std::uint32_t kBufferBytes = 2048;  // 1024 samples, 128 ms
  // At most this many chunks wait (2 s of full chunks). A camera whose
  // clock runs a little faster than the sound card's would otherwise make
  // the delay and the memory grow for as long as sound stays on; beyond
  // the bound the oldest chunk is dropped.
  static constexpr std::size_t kMaxQueuedChunks = 16;

  CWaveOut() = default;
  // Closes the device first.
  virtual ~CWaveOut();
  CWaveOut(const CWaveOut&) = delete;
  CWaveOut& operator=(const CWaveOut&) = delete;

  // 1 when playing (also when it already was), 0 when no output is
  // reachable; the object then stays closed.
  int Open();

  // Stops the device, frees the buffers and every queued chunk. Always 1.
  int Close();

  // Copies `length` bytes of PCM into a new chunk at the end of the queue,
  // dropping the oldest chunk when kMaxQueuedChunks already wait. Ignored
  // when length is 0 or above 2048 or bytes is null. Chunks queued while
  // closed play after the next Open.
  void QueueData(int length, const std::uint8_t* bytes);

  // Called by the device when a buffer has been played; refills and
  // resubmits it. Ignored while not playing.
  void OnBufferDone(WaveBuffer* header);

  bool IsOpen() const { return device_ != nullptr; }
  std::size_t QueuedChunks();

  // Delay a chunk queued now waits before it is heard, at most: the other
  // buffers in the rotation plus the server's own buffer.
  std::uint64_t OutputLatencyUs();

 private:
  struct Chunk {
    std::uint32_t count = 0;
    std::uint8_t data[kBufferBytes];
  };

  static void DeviceDone(WaveBuffer* header, void* self);
  void ReleaseBuffers();

  std::list<std::unique_ptr<Chunk>> chunkQueue_;  // guarded by queueLock_
  std::array<WaveBuffer, kBufferCount> headers_{};
  std::array<std::unique_ptr<std::uint8_t[]>, kBufferCount> buffers_;
  std::unique_ptr<WaveOutDevice> device_;
  std::atomic<int> playing_{0};
  std::mutex queueLock_;
};

}  // namespace lumvara
