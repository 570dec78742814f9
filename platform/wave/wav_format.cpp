#include "platform/wave/wav_format.h"

#include "platform/wave/wave_buffer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace lumvara {
namespace {

void PutLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kBitsPerSample = 16;

}  // namespace

void WriteWavHeader(std::uint8_t (&header)[kWavHeaderBytes], std::uint32_t dataBytes) {
  std::memcpy(header, "RIFF", 4);
  PutLe32(header + kWavRiffSizeOffset, dataBytes + kWavHeaderBytes - 8);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLe32(header + 16, 16);
  PutLe16(header + 20, kFormatPcm);
  PutLe16(header + 22, kWaveChannels);
  PutLe32(header + 24, kWaveSampleRate);
  PutLe32(header + 28, kWaveBytesPerSecond);
  PutLe16(header + 32, static_cast<std::uint16_t>(kWaveChannels * kBitsPerSample / 8));
  PutLe16(header + 34, kBitsPerSample);
  std::memcpy(header + 36, "data", 4);
  PutLe32(header + kWavDataSizeOffset, dataBytes);
}

std::optional<std::vector<std::int16_t>> ReadWavSamples(const std::string& path, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<std::vector<std::int16_t>> {
    if (error) *error = why;
    return std::nullopt;
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot be opened");
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    return fail("is not a WAV file");
  }
  bool formatSeen = false;
  std::size_t at = 12;
  while (at + 8 <= file.size()) {
    const std::uint8_t* chunk = file.data() + at;
    const std::size_t size = Le32(chunk + 4);
    const std::size_t present = std::min(size, file.size() - at - 8);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (present < 16) return fail("has a short format chunk");
      const std::uint8_t* f = chunk + 8;
      if (Le16(f) != kFormatPcm || Le16(f + 2) != kWaveChannels || Le32(f + 4) != kWaveSampleRate ||
          Le16(f + 14) != kBitsPerSample) {
        return fail("is not 8000 Hz mono 16-bit PCM");
      }
      formatSeen = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!formatSeen) return fail("has its data before its format");
      std::vector<std::int16_t> samples(present / 2);
      for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(Le16(chunk + 8 + 2 * i));
      }
      return samples;
    }
    at += 8 + size + (size & 1);  // chunks are padded to even sizes
  }
  return fail("has no data chunk");
}

}  // namespace lumvara
