#pragma once
// Playback of 8000 Hz mono 16-bit PCM on the default output through
// PulseAudio. Buffers queue in order; each one is reported done once all
// its bytes have been handed to the server, and the done handler may queue
// buffers again from there.

#include "platform/wave/pulse_connection.h"
#include "platform/wave/wave_buffer.h"

#include <cstdint>
#include <deque>
#include <memory>

namespace lumvara {

class WaveOutDevice {
public:
    // Runs with the loop lock held: on the PulseAudio thread, or inside a
    // Write() that found the server waiting. The buffer belongs to the
    // caller again.
    using DoneHandler = void (*)(WaveBuffer* buffer, void* context);

    // nullptr when no server or no output is reachable (bounded, quiet).
    static std::unique_ptr<WaveOutDevice> Open(DoneHandler done, void* context);

    // Closes the stream; buffers still queued are dropped unreported.
    ~WaveOutDevice();
    WaveOutDevice(const WaveOutDevice&) = delete;
    WaveOutDevice& operator=(const WaveOutDevice&) = delete;

    // Appends a buffer (data and length set); any thread, including the done
    // handler.
    void Write(WaveBuffer* buffer);

    // Drops every queued buffer without reporting it and discards what the
    // server still holds. Once it returns no buffer is referenced and no
    // done handler runs.
    void Reset();

    // Audio held by the server for this stream (not counting queued
    // buffers); 0 when unknown.
    std::uint64_t ServerLatencyUs();

    // Server-side buffer: 100 ms target, topped up in 20 ms steps; enough
    // to ride out a busy machine, small beside the buffers queued here.
    static constexpr std::uint32_t kTargetBytes = 1600;
    static constexpr std::uint32_t kMinRequestBytes = 320;

private:
    WaveOutDevice() = default;
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

}  // namespace lumvara
