// The camera's audio: the test tone it sends on audiostream.cgi, and the WAV
// files it keeps of the talk audio it receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumvara::camsim {

inline constexpr int kAudioRate = 8000;

// `count` samples of a sine tone at 8000 Hz, continuing from sample `start`.
std::vector<int16_t> ToneSamples(int tone_hz, uint64_t start, size_t count, int amplitude = 8000);

// The payload of one camera audio frame of `kind` (6: 512 bytes of ADPCM for
// 1024 samples, 7: 960 bytes of A-law) holding tone samples from `start`.
// Returns the number of samples it covers through `samples`.
std::vector<uint8_t> CameraAudioPayload(uint8_t kind, int tone_hz, uint64_t start, size_t* samples);

// Decodes talk payloads (self-contained ADPCM blocks, one per frame).
std::vector<int16_t> DecodeTalk(const uint8_t* payload, size_t size);

// Writes 8000 Hz mono 16-bit PCM as a WAV file, whole or not at all; false
// when it cannot.
bool WriteWav(const std::string& path, const std::vector<int16_t>& samples);

}  // namespace lumvara::camsim
