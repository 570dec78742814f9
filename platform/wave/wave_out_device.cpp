#include "platform/wave/wave_out_device.h"

#include <algorithm>

namespace lumvara {
std::unique_ptr<WaveOutDevice> WaveOutDevice::Open(DoneHandler done, void* context) {
    std::unique_ptr<WaveOutDevice> device(new WaveOutDevice());
    if (!device->Connect(done, context)) return nullptr;
    return device;
}

bool WaveOutDevice::Connect(DoneHandler done, void* context) {
    done_ = done;
    context_ = context;
    connection_ = PulseConnection::Connect("lumvara playback");
    if (!connection_) return false;

    PulseLock lock(*connection_);
    stream_ = connection_->NewWaveStream("camera audio");
    if (!stream_) return false;
    pa_stream_set_write_callback(stream_, &WaveOutDevice::OnWritable, this);
    pa_buffer_attr attr = PulseConnection::ServerChosenAttr();
    attr.tlength = kTargetBytes;
    attr.minreq = kMinRequestBytes;
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                      PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        return false;
    }
    return connection_->WaitStreamReady(stream_);
}

WaveOutDevice::~WaveOutDevice() {
    if (!connection_) return;
    {
        PulseLock lock(*connection_);
        queue_.clear();
        PulseConnection::CloseStream(stream_);
    }
    connection_.reset();
}

void WaveOutDevice::Write(WaveBuffer* buffer) {
    PulseLock lock(*connection_);
    buffer->position = 0;
    queue_.push_back(buffer);
    // On the loop thread Feed() is either running (and will reach this
    // buffer) or the server will ask again; elsewhere serve a request that
    // found the queue empty.
    if (!connection_->InLoopThread()) Feed();
}

void WaveOutDevice::Reset() {
    PulseLock lock(*connection_);
    queue_.clear();
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
        if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(op);
    }
}

std::uint64_t WaveOutDevice::ServerLatencyUs() {
    PulseLock lock(*connection_);
    pa_usec_t latency = 0;
    int negative = 0;
    if (!stream_ || pa_stream_get_latency(stream_, &latency, &negative) < 0 || negative) return 0;
    return latency;
}

// Hands queued bytes to the server as far as it asks for them; a buffer
// whose last byte went out is done and reported at once, so its handler can
// put it back (or queue another) before the next request is served.
void WaveOutDevice::Feed() {
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
            if (pa_stream_write(stream_, buffer->data + buffer->position, n, nullptr, 0,
                                PA_SEEK_RELATIVE) < 0) {
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

void WaveOutDevice::OnWritable(pa_stream*, std::size_t, void* self) {
    static_cast<WaveOutDevice*>(self)->Feed();
}

}  // namespace lumvara
