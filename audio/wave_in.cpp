#include "audio/wave_in.h"

#include <cstring>
#include <new>
#include <system_error>

namespace lumvara {

CWaveIn::~CWaveIn() { Stop(); }

void CWaveIn::OnCaptureData(const std::int16_t* samples, int byteCount) {
  TalkDataCallback callback = nullptr;
  void* user = nullptr;
  {
    std::lock_guard<std::mutex> lock(callbackLock_);
    callback = talkCallback_;
    user = userValue_;
  }
  if (!callback || !samples || byteCount < 0) return;
  // One nibble per whole sample must fit the output area.
  if ((byteCount / 2 + 1) / 2 > kEncodedBlockBytes) return;
  std::uint8_t encoded[kEncodedBlockBytes] = {};
  AdpcmEncodeBlock(&encoderState_, samples, byteCount, encoded);
  callback(encoded, byteCount / 4, user);
}

int CWaveIn::Start(TalkDataCallback callback, void* user) {
  std::lock_guard<std::mutex> control(controlLock_);
  if (callback) {
    {
      std::lock_guard<std::mutex> lock(callbackLock_);
      talkCallback_ = callback;
      userValue_ = user;
    }
    if (StartThread()) {
      if (!OpenDevice()) {
        StopThread();
      } else if (!QueueBuffers()) {
        CloseDevice();
      }
    }
  }
  if (started_) return 1;
  if (!device_) return 0;
  if (!device_->Start()) return 0;
  started_ = true;
  return 1;
}

int CWaveIn::Stop() {
  std::lock_guard<std::mutex> control(controlLock_);
  if (started_ && device_ && device_->Stop()) started_ = false;
  StopThread();
  ReleaseBuffers();
  CloseDevice();
  return 1;
}

bool CWaveIn::StartThread() {
  if (threadRunning_) return true;
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    messages_.clear();  // nothing from an earlier run refers to live buffers
  }
  try {
    thread_ = std::thread([this] { CaptureThread(); });
  } catch (const std::system_error&) {
    return false;
  }
  threadRunning_ = true;
  return true;
}

// The quit message goes ahead of any blocks still waiting, and the thread
// leaves as soon as the block it is delivering (if any) is done: stop
// waits for that one callback rather than killing the thread under it,
// which would leave the device and buffers in use.
void CWaveIn::StopThread() {
  if (!threadRunning_) return;
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    messages_.push_front({MessageKind::kQuit, nullptr});
  }
  messageReady_.notify_one();
  thread_.join();
  threadRunning_ = false;
}

bool CWaveIn::OpenDevice() {
  if (open_) return true;
  device_ = WaveInDevice::Open(&CWaveIn::DeviceDone, this);
  if (!device_) return false;
  open_ = true;
  return true;
}

void CWaveIn::CloseDevice() {
  if (!open_) return;
  device_.reset();
  open_ = false;
  started_ = false;
}

bool CWaveIn::QueueBuffers() {
  if (queued_) return true;
  if (!device_->Reset()) return false;
  headers_.reset(new (std::nothrow) WaveBuffer[kBufferCount]);
  if (!headers_) return false;
  for (int i = 0; i < kBufferCount; ++i) {
    headers_[i] = WaveBuffer{};
    headers_[i].data = buffers_[i];
    headers_[i].length = kBufferBytes;
    if (!device_->AddBuffer(&headers_[i])) {
      device_->Reset();
      headers_.reset();
      return false;
    }
  }
  queued_ = true;
  return true;
}

void CWaveIn::ReleaseBuffers() {
  if (!queued_) return;
  // Once Reset returns the device holds no buffer; closing it does the
  // same if the server no longer answers.
  if (device_) device_->Reset();
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    messages_.clear();
  }
  headers_.reset();
  queued_ = false;
}

void CWaveIn::Post(Message message) {
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    messages_.push_back(message);
  }
  messageReady_.notify_one();
}

void CWaveIn::DeviceDone(WaveBuffer* header, void* self) {
  static_cast<CWaveIn*>(self)->Post({MessageKind::kData, header});
}

void CWaveIn::CaptureThread() {
  for (;;) {
    Message message;
    {
      std::unique_lock<std::mutex> lock(messageLock_);
      messageReady_.wait(lock, [this] { return !messages_.empty(); });
      message = messages_.front();
      messages_.pop_front();
    }
    if (message.kind == MessageKind::kQuit) return;
    WaveBuffer* header = message.header;
    // A buffer that came back partly filled is neither delivered nor
    // given back.
    if (header->bytesRecorded != kBufferBytes) continue;
    std::int16_t block[kBufferBytes / 2];
    std::memcpy(block, header->data, kBufferBytes);
    OnCaptureData(block, static_cast<int>(kBufferBytes));
    device_->AddBuffer(header);
  }
}

}  // namespace lumvara
