#pragma once
// Uncompressed 32-bit BMP images of a BGRX picture: a 14-byte file header,
// a 40-byte info header, then the rows bottom row first, each width x 4
// bytes (blue, green, red, 0) exactly as they lie in the picture.

#include <cstddef>
#include <cstdint>

namespace lumvara {

inline constexpr size_t kBmpHeadersSize = 54;

// 54 + width * height * 4.
uint64_t bmpImageSize(uint32_t width, uint32_t height);

// Writes both headers, little-endian, into out[0 .. 53].
void writeBmpHeaders(uint8_t* out, uint32_t width, uint32_t height);

// The whole image into `buffer`, which must hold bmpImageSize() bytes.
// `pixels` is the picture's top row; rows lie `pitch` bytes apart.
void writeBmpToBuffer(uint8_t* buffer, const uint8_t* pixels, int pitch, uint32_t width, uint32_t height);

// The whole image into a new file at `path` (created or truncated). False
// when the file cannot be created or written; a file that could not be
// written whole is removed again, so no truncated image is left behind.
bool writeBmpFile(const char* path, const uint8_t* pixels, int pitch, uint32_t width, uint32_t height);

}  // namespace lumvara
