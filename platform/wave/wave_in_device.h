#pragma once
// Capture of 8000 Hz mono 16-bit PCM from the default input. Buffers queue
// in order and are filled while capture runs; each full buffer is reported
// done on the backend's thread.
//
// The input is that of the sound backend the environment selects when the
// device opens (wave_backend.h): PulseAudio (wave_pulse.cpp) or a paced WAV
// file (wave_file.cpp). Playback (wave_out_device.h) has the mirrored shape.

#include "platform/wave/wave_buffer.h"

#include <cstdint>
#include <memory>

namespace lumvara {

class WaveInDevice {
 public:
  // Runs on the backend's own thread (the PulseAudio thread, the file
  // backend's pacing thread) with the device's lock held and a buffer
  // whose bytesRecorded equals its length; the buffer belongs to the
  // caller again.
  using DoneHandler = void (*)(WaveBuffer* buffer, void* context);

  // Opens the selected backend's default input, not yet capturing.
  // nullptr when it cannot (no server or input reachable, a file that is
  // not 8000 Hz mono 16-bit PCM WAV, an unknown backend name); bounded
  // and quiet.
  static std::unique_ptr<WaveInDevice> Open(DoneHandler done, void* context);

  // Stops and closes; queued buffers are dropped unreported.
  virtual ~WaveInDevice() = default;
  WaveInDevice(const WaveInDevice&) = delete;
  WaveInDevice& operator=(const WaveInDevice&) = delete;

  // Appends an empty buffer (data and length set). false if closed.
  virtual bool AddBuffer(WaveBuffer* buffer) = 0;

  // Starts or pauses capture; false when the backend refuses (PulseAudio:
  // also when called from its own thread).
  virtual bool Start() = 0;
  virtual bool Stop() = 0;

  // Stops capture and hands every queued buffer back unreported, the
  // partly filled one with its bytesRecorded. Once it returns no buffer
  // is referenced and no done handler runs.
  virtual bool Reset() = 0;

 protected:
  WaveInDevice() = default;
};

}  // namespace lumvara
