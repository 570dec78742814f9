#pragma once
// Playback of 8000 Hz mono 16-bit PCM on the default output. Buffers queue
// in order; each one is reported done once all its bytes have been handed
// to the output, and the done handler may queue buffers again from there.
//
// The output is that of the sound backend the environment selects when the
// device opens (wave_backend.h): PulseAudio (wave_pulse.cpp) or a paced WAV
// file (wave_file.cpp). Capture (wave_in_device.h) has the mirrored shape:
// Open, buffers in, done handler, Reset, close by destruction.

#include "platform/wave/wave_buffer.h"

#include <cstdint>
#include <memory>

namespace lumvara {

class WaveOutDevice {
 public:
  // Runs with the device's lock held: on the backend's own thread (the
  // PulseAudio thread, the file backend's pacing thread), or inside a
  // Write() that found the output waiting. It may call Write() and
  // Reset(). The buffer belongs to the caller again.
  using DoneHandler = void (*)(WaveBuffer* buffer, void* context);

  // Opens the selected backend's default output, playing at once.
  // nullptr when it cannot (no server or output reachable, a file that
  // cannot be created, an unknown backend name); bounded and quiet.
  static std::unique_ptr<WaveOutDevice> Open(DoneHandler done, void* context);

  // Closes the output; buffers still queued are dropped unreported.
  virtual ~WaveOutDevice() = default;
  WaveOutDevice(const WaveOutDevice&) = delete;
  WaveOutDevice& operator=(const WaveOutDevice&) = delete;

  // Appends a buffer (data and length set); any thread, including the done
  // handler.
  virtual void Write(WaveBuffer* buffer) = 0;

  // Drops every queued buffer without reporting it and discards what the
  // output still holds. Once it returns no buffer is referenced and no
  // done handler runs.
  virtual void Reset() = 0;

  // Audio held by the output beyond the queued buffers; 0 when unknown or
  // none.
  virtual std::uint64_t ServerLatencyUs() = 0;

 protected:
  WaveOutDevice() = default;
};

}  // namespace lumvara
