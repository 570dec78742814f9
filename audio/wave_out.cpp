#include "audio/wave_out.h"

#include <cstring>
#include <new>

namespace lumvara {

CWaveOut::~CWaveOut() { Close(); }

int CWaveOut::Open() {
  if (device_) return 1;
  device_ = WaveOutDevice::Open(&CWaveOut::DeviceDone, this);
  if (!device_) return 0;

  // Completions may start as soon as the first buffer is written, so the
  // flag is up before priming: a buffer finished early stays in rotation.
  playing_ = 1;
  for (std::size_t i = 0; i < kBufferCount; ++i) {
    buffers_[i].reset(new (std::nothrow) std::uint8_t[kBufferBytes]);
    if (!buffers_[i]) {
      Close();
      return 0;
    }
    std::memset(buffers_[i].get(), 0, kBufferBytes);
    headers_[i] = WaveBuffer{};
    headers_[i].data = buffers_[i].get();
    headers_[i].length = kBufferBytes;
    device_->Write(&headers_[i]);  // 640 ms of silence start at once
  }
  return 1;
}

int CWaveOut::Close() {
  if (!device_) return 1;
  playing_ = 0;      // completions from here on are ignored
  device_->Reset();  // every buffer comes back; no completion runs after this
  device_.reset();
  ReleaseBuffers();
  std::lock_guard<std::mutex> lock(queueLock_);
  chunkQueue_.clear();
  return 1;
}

void CWaveOut::ReleaseBuffers() {
  for (std::size_t i = 0; i < kBufferCount; ++i) {
    headers_[i] = WaveBuffer{};
    buffers_[i].reset();
  }
}

void CWaveOut::QueueData(int length, const std::uint8_t* bytes) {
  if (length <= 0 || length > static_cast<int>(kBufferBytes) || !bytes) return;
  auto chunk = std::make_unique<Chunk>();
  chunk->count = static_cast<std::uint32_t>(length);
  std::memcpy(chunk->data, bytes, chunk->count);
  std::unique_ptr<Chunk> dropped;  // freed after the lock is left
  std::lock_guard<std::mutex> lock(queueLock_);
  if (chunkQueue_.size() >= kMaxQueuedChunks) {
    dropped = std::move(chunkQueue_.front());
    chunkQueue_.pop_front();
  }
  chunkQueue_.push_back(std::move(chunk));
}

std::size_t CWaveOut::QueuedChunks() {
  std::lock_guard<std::mutex> lock(queueLock_);
  return chunkQueue_.size();
}

std::uint64_t CWaveOut::OutputLatencyUs() {
  if (!device_) return 0;
  const std::uint64_t rotation = (kBufferCount - 1) * std::uint64_t{kBufferBytes} * 1000000 / kWaveBytesPerSecond;
  return rotation + device_->ServerLatencyUs();
}

void CWaveOut::DeviceDone(WaveBuffer* header, void* self) { static_cast<CWaveOut*>(self)->OnBufferDone(header); }

void CWaveOut::OnBufferDone(WaveBuffer* header) {
  if (playing_ == 0 || !device_) return;
  std::unique_ptr<Chunk> chunk;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (!chunkQueue_.empty()) {
      chunk = std::move(chunkQueue_.front());
      chunkQueue_.pop_front();
    }
  }
  if (chunk) {
    std::memcpy(header->data, chunk->data, chunk->count);
    header->length = chunk->count;
  } else {
    // Silence as long as the last chunk this buffer carried; a chunk
    // shorter than one sample would leave nothing to play, so such a
    // buffer falls back to its full size.
    if (header->length < 2) header->length = kBufferBytes;
    std::memset(header->data, 0, kBufferBytes);
  }
  device_->Write(header);
}

}  // namespace lumvara
