// The PulseAudio wave backend. Every PulseAudio callback runs on the
// connection's loop thread with the loop lock held; that lock is the
// device's lock of the wave interfaces.
#include "platform/wave/wave_pulse.h"

#include "platform/wave/pulse_connection.h"
#include "platform/wave/wave_queue.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace lumvara {

static_assert(kWaveVolumeNorm == PA_VOLUME_NORM && kWaveVolumeLimit == PA_VOLUME_MAX,
              "the mixer volume scale is PulseAudio's");

namespace {

// Playback on the default sink. Each buffer is reported done once its last
// byte has been handed to the server.
class PulseWaveOut final : public WaveOutDevice {
 public:
  static std::unique_ptr<PulseWaveOut> Open(DoneHandler done, void* context);
  ~PulseWaveOut() override;

  void Write(WaveBuffer* buffer) override;
  void Reset() override;
  std::uint64_t ServerLatencyUs() override;

  // Server-side buffer: 100 ms target, topped up in 20 ms steps; enough
  // to ride out a busy machine, small beside the buffers queued here.
  static constexpr std::uint32_t kTargetBytes = 1600;
  static constexpr std::uint32_t kMinRequestBytes = 320;

 private:
  PulseWaveOut() = default;
  bool Connect(DoneHandler done, void* context);
  void Feed();
  static void OnWritable(pa_stream* stream, std::size_t bytes, void* self);

  std::unique_ptr<PulseConnection> connection_;
  pa_stream* stream_ = nullptr;
  DoneHandler done_ = nullptr;
  void* context_ = nullptr;
  std::deque<WaveBuffer*> queue_;  // guarded by the loop lock
  bool feeding_ = false;           // Feed() is on the stack (loop thread)
};

// Capture from the default source, corked while stopped.
class PulseWaveIn final : public WaveInDevice {
 public:
  static std::unique_ptr<PulseWaveIn> Open(DoneHandler done, void* context);
  ~PulseWaveIn() override;

  bool AddBuffer(WaveBuffer* buffer) override;
  bool Start() override;
  bool Stop() override;
  bool Reset() override;

  // Server fragment: data arrives in 32 ms pieces.
  static constexpr std::uint32_t kFragmentBytes = 512;

 private:
  PulseWaveIn() = default;
  bool Connect(DoneHandler done, void* context);
  bool Cork(bool pause);
  void Drain();
  void Take(const std::uint8_t* data, std::size_t bytes);
  static void OnReadable(pa_stream* stream, std::size_t bytes, void* self);
  static void OnSuccess(pa_stream* stream, int success, void* self);

  std::unique_ptr<PulseConnection> connection_;
  pa_stream* stream_ = nullptr;
  DoneHandler done_ = nullptr;
  void* context_ = nullptr;
  std::deque<WaveBuffer*> queue_;  // guarded by the loop lock
  bool capturing_ = false;         // guarded by the loop lock
  bool lastSuccess_ = false;       // result of the last cork, under the loop lock
};

std::unique_ptr<PulseWaveOut> PulseWaveOut::Open(DoneHandler done, void* context) {
  std::unique_ptr<PulseWaveOut> device(new PulseWaveOut());
  if (!device->Connect(done, context)) return nullptr;
  return device;
}

bool PulseWaveOut::Connect(DoneHandler done, void* context) {
  done_ = done;
  context_ = context;
  connection_ = PulseConnection::Connect("lumvara playback");
  if (!connection_) return false;

  PulseLock lock(*connection_);
  stream_ = connection_->NewWaveStream("camera audio");
  if (!stream_) return false;
  pa_stream_set_write_callback(stream_, &PulseWaveOut::OnWritable, this);
  pa_buffer_attr attr = PulseConnection::ServerChosenAttr();
  attr.tlength = kTargetBytes;
  attr.minreq = kMinRequestBytes;
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE);
  if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
    return false;
  }
  return connection_->WaitStreamReady(stream_);
}

PulseWaveOut::~PulseWaveOut() {
  if (!connection_) return;
  {
    PulseLock lock(*connection_);
    queue_.clear();
    PulseConnection::CloseStream(stream_);
  }
  connection_.reset();
}

void PulseWaveOut::Write(WaveBuffer* buffer) {
  PulseLock lock(*connection_);
  buffer->position = 0;
  queue_.push_back(buffer);
  // On the loop thread Feed() is either running (and will reach this
  // buffer) or the server will ask again; elsewhere serve a request that
  // found the queue empty.
  if (!connection_->InLoopThread()) Feed();
}

void PulseWaveOut::Reset() {
  PulseLock lock(*connection_);
  queue_.clear();
  if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
    if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(op);
  }
}

std::uint64_t PulseWaveOut::ServerLatencyUs() {
  PulseLock lock(*connection_);
  pa_usec_t latency = 0;
  int negative = 0;
  if (!stream_ || pa_stream_get_latency(stream_, &latency, &negative) < 0 || negative) return 0;
  return latency;
}

// Hands queued bytes to the server as far as it asks for them; a buffer
// whose last byte went out is done and reported at once, so its handler can
// put it back (or queue another) before the next request is served.
void PulseWaveOut::Feed() {
  if (feeding_ || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
  feeding_ = true;
  std::size_t writable = pa_stream_writable_size(stream_);
  // Buffers that carry no whole sample complete without output; a full
  // round of them means the queue cannot make progress now.
  std::size_t emptyCompletions = 0;
  while (writable > 0 && writable != static_cast<std::size_t>(-1) && !queue_.empty() &&
         emptyCompletions <= queue_.size()) {
    WaveBuffer* buffer = queue_.front();
    const std::size_t left = buffer->length > buffer->position ? buffer->length - buffer->position : 0;
    const std::size_t n = std::min(left, writable) & ~std::size_t{1};  // whole samples
    if (n > 0) {
      if (pa_stream_write(stream_, buffer->data + buffer->position, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        break;
      }
      buffer->position += static_cast<std::uint32_t>(n);
      writable -= n;
    }
    if (buffer->length - buffer->position < 2) {
      emptyCompletions = n > 0 ? 0 : emptyCompletions + 1;
      queue_.pop_front();
      if (done_) done_(buffer, context_);
    } else if (n == 0) {
      break;  // less than one sample of room
    }
  }
  feeding_ = false;
}

void PulseWaveOut::OnWritable(pa_stream*, std::size_t, void* self) { static_cast<PulseWaveOut*>(self)->Feed(); }

std::unique_ptr<PulseWaveIn> PulseWaveIn::Open(DoneHandler done, void* context) {
  std::unique_ptr<PulseWaveIn> device(new PulseWaveIn());
  if (!device->Connect(done, context)) return nullptr;
  return device;
}

bool PulseWaveIn::Connect(DoneHandler done, void* context) {
  done_ = done;
  context_ = context;
  connection_ = PulseConnection::Connect("lumvara capture");
  if (!connection_) return false;

  PulseLock lock(*connection_);
  stream_ = connection_->NewWaveStream("talk");
  if (!stream_) return false;
  pa_stream_set_read_callback(stream_, &PulseWaveIn::OnReadable, this);
  pa_buffer_attr attr = PulseConnection::ServerChosenAttr();
  attr.fragsize = kFragmentBytes;
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
  if (pa_stream_connect_record(stream_, nullptr, &attr, flags) < 0) return false;
  return connection_->WaitStreamReady(stream_);
}

PulseWaveIn::~PulseWaveIn() {
  if (!connection_) return;
  {
    PulseLock lock(*connection_);
    capturing_ = false;
    queue_.clear();
    PulseConnection::CloseStream(stream_);
  }
  connection_.reset();
}

bool PulseWaveIn::AddBuffer(WaveBuffer* buffer) {
  PulseLock lock(*connection_);
  if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
  buffer->bytesRecorded = 0;
  buffer->position = 0;
  queue_.push_back(buffer);
  return true;
}

bool PulseWaveIn::Start() { return Cork(false); }

bool PulseWaveIn::Stop() { return Cork(true); }

bool PulseWaveIn::Reset() {
  const bool stopped = Stop();
  PulseLock lock(*connection_);
  for (WaveBuffer* buffer : queue_) buffer->bytesRecorded = buffer->position;
  queue_.clear();
  return stopped;
}

bool PulseWaveIn::Cork(bool pause) {
  if (connection_->InLoopThread()) return false;  // would wait on itself
  pa_operation* op = nullptr;
  {
    PulseLock lock(*connection_);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
    // Data already on its way is dropped from here on when pausing.
    capturing_ = !pause;
    lastSuccess_ = false;
    op = pa_stream_cork(stream_, pause ? 1 : 0, &PulseWaveIn::OnSuccess, this);
    if (!pause && op) {
      // Discard what the server buffered while paused: capture starts now.
      if (pa_operation* flush = pa_stream_flush(stream_, nullptr, nullptr)) {
        pa_operation_unref(flush);
      }
    }
  }
  if (!connection_->Wait(op)) return false;
  PulseLock lock(*connection_);
  return lastSuccess_;
}

void PulseWaveIn::Drain() {
  while (pa_stream_readable_size(stream_) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) return;
    if (capturing_) Take(static_cast<const std::uint8_t*>(data), bytes);
    pa_stream_drop(stream_);
  }
}

// A hole in the stream (no data) is captured as silence.
void PulseWaveIn::Take(const std::uint8_t* data, std::size_t bytes) {
  FillCaptureBuffers(queue_, data, bytes, done_, context_);
}

void PulseWaveIn::OnReadable(pa_stream*, std::size_t, void* self) { static_cast<PulseWaveIn*>(self)->Drain(); }

void PulseWaveIn::OnSuccess(pa_stream*, int success, void* self) {
  auto* device = static_cast<PulseWaveIn*>(self);
  device->lastSuccess_ = success != 0;
  device->connection_->Signal();
}

}  // namespace

std::unique_ptr<WaveOutDevice> OpenPulseWaveOut(WaveOutDevice::DoneHandler done, void* context) {
  return PulseWaveOut::Open(done, context);
}

std::unique_ptr<WaveInDevice> OpenPulseWaveIn(WaveInDevice::DoneHandler done, void* context) {
  return PulseWaveIn::Open(done, context);
}

}  // namespace lumvara
