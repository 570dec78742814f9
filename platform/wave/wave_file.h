#pragma once
// The file wave backend: playback written to a WAV file and capture read
// from one, each paced in real time by a thread of its own, for machines
// without a sound server (wave_backend.h says how it is chosen and named).
// The mixer's file backend sets the two line levels below; they apply to
// the samples written and read.

#include "platform/wave/wave_in_device.h"
#include "platform/wave/wave_out_device.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace lumvara {

// `outputPath` empty: played and discarded. nullptr when the file cannot be
// created (logged).
std::unique_ptr<WaveOutDevice> OpenFileWaveOut(const char* outputPath, WaveOutDevice::DoneHandler done, void* context);
// `inputPath` empty: silence. nullptr when the file cannot be read or is not
// 8000 Hz mono 16-bit PCM WAV (logged).
std::unique_ptr<WaveInDevice> OpenFileWaveIn(const char* inputPath, WaveInDevice::DoneHandler done, void* context);

// Volume (0..kWaveVolumeLimit, kWaveVolumeNorm = unchanged) and mute of one
// direction of the file backend, for this process. Any thread.
struct FileLineLevel {
  std::atomic<std::uint32_t> volume{kWaveVolumeNorm};
  std::atomic<bool> muted{false};
};
FileLineLevel& FilePlaybackLevel();
FileLineLevel& FileCaptureLevel();

}  // namespace lumvara
