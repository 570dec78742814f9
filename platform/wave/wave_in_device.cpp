#include "platform/wave/wave_in_device.h"

#include <algorithm>
#include <cstring>

namespace lumvara {
std::unique_ptr<WaveInDevice> WaveInDevice::Open(DoneHandler done, void* context) {
    std::unique_ptr<WaveInDevice> device(new WaveInDevice());
    if (!device->Connect(done, context)) return nullptr;
    return device;
}

bool WaveInDevice::Connect(DoneHandler done, void* context) {
    done_ = done;
    context_ = context;
    connection_ = PulseConnection::Connect("lumvara capture");
    if (!connection_) return false;

    PulseLock lock(*connection_);
    stream_ = connection_->NewWaveStream("talk");
    if (!stream_) return false;
    pa_stream_set_read_callback(stream_, &WaveInDevice::OnReadable, this);
    pa_buffer_attr attr = PulseConnection::ServerChosenAttr();
    attr.fragsize = kFragmentBytes;
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                      PA_STREAM_START_CORKED);
    if (pa_stream_connect_record(stream_, nullptr, &attr, flags) < 0) return false;
    return connection_->WaitStreamReady(stream_);
}

WaveInDevice::~WaveInDevice() {
    if (!connection_) return;
    {
        PulseLock lock(*connection_);
        capturing_ = false;
        queue_.clear();
        PulseConnection::CloseStream(stream_);
    }
    connection_.reset();
}

bool WaveInDevice::AddBuffer(WaveBuffer* buffer) {
    PulseLock lock(*connection_);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
    buffer->bytesRecorded = 0;
    buffer->position = 0;
    queue_.push_back(buffer);
    return true;
}

bool WaveInDevice::Start() { return Cork(false); }

bool WaveInDevice::Stop() { return Cork(true); }

bool WaveInDevice::Reset() {
    const bool stopped = Stop();
    PulseLock lock(*connection_);
    for (WaveBuffer* buffer : queue_) buffer->bytesRecorded = buffer->position;
    queue_.clear();
    return stopped;
}

bool WaveInDevice::Cork(bool pause) {
    if (connection_->InLoopThread()) return false;  // would wait on itself
    pa_operation* op = nullptr;
    {
        PulseLock lock(*connection_);
        if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
        // Data already on its way is dropped from here on when pausing.
        capturing_ = !pause;
        lastSuccess_ = false;
        op = pa_stream_cork(stream_, pause ? 1 : 0, &WaveInDevice::OnSuccess, this);
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

void WaveInDevice::Drain() {
    while (pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) return;
        if (capturing_) Take(static_cast<const std::uint8_t*>(data), bytes);
        pa_stream_drop(stream_);
    }
}

// Copies captured bytes into the queued buffers in order; a hole in the
// stream (no data) is captured as silence.
void WaveInDevice::Take(const std::uint8_t* data, std::size_t bytes) {
    std::size_t offset = 0;
    while (offset < bytes && !queue_.empty()) {
        WaveBuffer* buffer = queue_.front();
        const std::size_t n = std::min<std::size_t>(buffer->length - buffer->position, bytes - offset);
        if (data) {
            std::memcpy(buffer->data + buffer->position, data + offset, n);
        } else {
            std::memset(buffer->data + buffer->position, 0, n);
        }
        buffer->position += static_cast<std::uint32_t>(n);
        offset += n;
        if (buffer->position == buffer->length) {
            buffer->bytesRecorded = buffer->length;
            queue_.pop_front();
            if (done_) done_(buffer, context_);
        }
    }
}

void WaveInDevice::OnReadable(pa_stream*, std::size_t, void* self) {
    static_cast<WaveInDevice*>(self)->Drain();
}

void WaveInDevice::OnSuccess(pa_stream*, int success, void* self) {
    auto* device = static_cast<WaveInDevice*>(self);
    device->lastSuccess_ = success != 0;
    device->connection_->Signal();
}

}  // namespace lumvara
