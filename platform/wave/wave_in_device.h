#pragma once
// Capture of 8000 Hz mono 16-bit PCM from the default input through
// PulseAudio. Buffers queue in order and are filled while capture runs;
// each full buffer is reported done on the PulseAudio thread.

#include "platform/wave/pulse_connection.h"
#include "platform/wave/wave_buffer.h"

#include <cstdint>
#include <deque>
#include <memory>

namespace lumvara {

class WaveInDevice {
public:
    // Runs on the PulseAudio thread with a buffer whose bytesRecorded equals
    // its length; the buffer belongs to the caller again.
    using DoneHandler = void (*)(WaveBuffer* buffer, void* context);

    // Opens the default input, not yet capturing. nullptr when no server or
    // no input is reachable (bounded, quiet).
    static std::unique_ptr<WaveInDevice> Open(DoneHandler done, void* context);

    // Stops and closes; queued buffers are dropped unreported.
    ~WaveInDevice();
    WaveInDevice(const WaveInDevice&) = delete;
    WaveInDevice& operator=(const WaveInDevice&) = delete;

    // Appends an empty buffer (data and length set). false if closed.
    bool AddBuffer(WaveBuffer* buffer);

    // Starts or pauses capture; false when the server refuses.
    bool Start();
    bool Stop();

    // Stops capture and hands every queued buffer back unreported, the
    // partly filled one with its bytesRecorded. Once it returns no buffer
    // is referenced and no done handler runs.
    bool Reset();

    // Server fragment: data arrives in 32 ms pieces.
    static constexpr std::uint32_t kFragmentBytes = 512;

private:
    WaveInDevice() = default;
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

}  // namespace lumvara
