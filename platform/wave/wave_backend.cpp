#include "platform/wave/wave_backend.h"

#include "platform/log/log.h"
#include "platform/wave/wave_file.h"
#include "platform/wave/wave_pulse.h"

#include <cstdlib>
#include <cstring>

namespace lumvara {

std::optional<WaveBackend> SelectedWaveBackend() {
  const char* name = std::getenv(kAudioBackendVariable);
  if (name == nullptr || name[0] == '\0' || std::strcmp(name, "pulse") == 0) return WaveBackend::kPulse;
  if (std::strcmp(name, "file") == 0) return WaveBackend::kFile;
  logf("sound: unknown %s=\"%s\"; no sound device opens\n", kAudioBackendVariable, name);
  return std::nullopt;
}

std::unique_ptr<WaveOutDevice> WaveOutDevice::Open(DoneHandler done, void* context) {
  const auto backend = SelectedWaveBackend();
  if (!backend) return nullptr;
  if (*backend == WaveBackend::kFile) return OpenFileWaveOut(std::getenv(kAudioOutputVariable), done, context);
  return OpenPulseWaveOut(done, context);
}

std::unique_ptr<WaveInDevice> WaveInDevice::Open(DoneHandler done, void* context) {
  const auto backend = SelectedWaveBackend();
  if (!backend) return nullptr;
  if (*backend == WaveBackend::kFile) return OpenFileWaveIn(std::getenv(kAudioInputVariable), done, context);
  return OpenPulseWaveIn(done, context);
}

}  // namespace lumvara
