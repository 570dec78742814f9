#include "apps/camsim/camera_audio.h"

#include <cmath>
#include <cstdio>
#include <fstream>

#include "apps/camsim/camera_simulator.h"
#include "apps/camsim/stream_frame.h"
#include "audio/adpcm.h"
#include "audio/g711.h"

namespace lumvara::camsim {

std::vector<int16_t> ToneSamples(int tone_hz, uint64_t start, size_t count, int amplitude) {
  std::vector<int16_t> samples(count);
  const double step = 2.0 * M_PI * tone_hz / kAudioRate;
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(step * double(start + i))));
  }
  return samples;
}

std::vector<uint8_t> CameraAudioPayload(uint8_t kind, int tone_hz, uint64_t start, size_t* samples) {
  if (kind == kKindAdpcm) {
    const std::vector<int16_t> pcm = ToneSamples(tone_hz, start, kCameraAdpcmFrameSamples);
    std::vector<uint8_t> payload(kCameraAdpcmFrameBytes);
    AdpcmState state{};
    AdpcmEncodeBlock(&state, pcm.data(), static_cast<int32_t>(pcm.size() * 2), payload.data());
    *samples = pcm.size();
    return payload;
  }
  const std::vector<int16_t> pcm = ToneSamples(tone_hz, start, kCameraAlawFrameBytes);
  std::vector<uint8_t> payload(pcm.size());
  for (size_t i = 0; i < pcm.size(); ++i) payload[i] = AlawCompress(pcm[i]);
  *samples = pcm.size();
  return payload;
}

std::vector<int16_t> DecodeTalk(const uint8_t* payload, size_t size) {
  std::vector<int16_t> pcm(size * 2);
  AdpcmState state{};
  AdpcmDecodeBlock(&state, payload, static_cast<int32_t>(size), pcm.data());
  return pcm;
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples) {
  // Written beside the final name and renamed, so a reader never sees half a file.
  const std::string part = path + ".part";
  std::ofstream file(part, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  uint8_t header[44] = {'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',
                        'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   1,   0};
  putLe32(header + 4, 36 + data_bytes);
  putLe32(header + 24, kAudioRate);
  putLe32(header + 28, kAudioRate * 2);  // bytes per second
  header[32] = 2;                        // block align
  header[34] = 16;                       // bits per sample
  header[36] = 'd';
  header[37] = 'a';
  header[38] = 't';
  header[39] = 'a';
  putLe32(header + 40, data_bytes);
  file.write(reinterpret_cast<const char*>(header), sizeof header);
  for (int16_t sample : samples) {
    const char bytes[2] = {static_cast<char>(sample & 0xFF), static_cast<char>((sample >> 8) & 0xFF)};
    file.write(bytes, 2);
  }
  file.close();
  if (!file || std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    return false;
  }
  return true;
}

}  // namespace lumvara::camsim
