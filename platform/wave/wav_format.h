#pragma once
// The WAV files of the file sound backend: RIFF, one "fmt " chunk of PCM
// and one "data" chunk, 8000 Hz mono 16-bit little-endian.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumvara {

inline constexpr std::uint32_t kWavHeaderBytes = 44;
// Byte offsets of the two sizes that grow with the data.
inline constexpr std::uint32_t kWavRiffSizeOffset = 4;
inline constexpr std::uint32_t kWavDataSizeOffset = 40;

// The 44-byte header of an 8000 Hz mono 16-bit PCM file holding `dataBytes`
// bytes of samples.
void WriteWavHeader(std::uint8_t (&header)[kWavHeaderBytes], std::uint32_t dataBytes);

// The samples of an 8000 Hz mono 16-bit PCM WAV file; empty (with `error`
// saying why) when it cannot be read or has another format. A data chunk
// that claims more bytes than the file holds yields the bytes present.
std::optional<std::vector<std::int16_t>> ReadWavSamples(const std::string& path, std::string* error);

}  // namespace lumvara
