#include "player/bmp_image.h"

#include <cstdio>
#include <cstring>

namespace lumvara {

namespace {

// Header field offsets.
constexpr size_t kSignatureAt = 0;
constexpr size_t kFileSizeAt = 2;
constexpr size_t kPixelOffsetAt = 10;
constexpr size_t kInfoSizeAt = 14;
constexpr size_t kWidthAt = 18;
constexpr size_t kHeightAt = 22;
constexpr size_t kPlanesAt = 26;
constexpr size_t kBitsPerPixelAt = 28;
constexpr size_t kImageSizeAt = 34;

constexpr uint16_t kSignature = 0x4D42;  // "BM"
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint16_t kBitsPerPixel = 32;
constexpr uint32_t kBytesPerPixel = 4;

static_assert(kInfoSizeAt + kInfoHeaderSize == kBmpHeadersSize, "file header and info header fill 54 bytes");

void put16(uint8_t* out, size_t at, uint16_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

}  // namespace

uint64_t bmpImageSize(uint32_t width, uint32_t height) {
  return kBmpHeadersSize + static_cast<uint64_t>(width) * height * kBytesPerPixel;
}

void writeBmpHeaders(uint8_t* out, uint32_t width, uint32_t height) {
  std::memset(out, 0, kBmpHeadersSize);
  const uint32_t imageSize = width * height * kBytesPerPixel;
  put16(out, kSignatureAt, kSignature);
  put32(out, kFileSizeAt, static_cast<uint32_t>(kBmpHeadersSize) + imageSize);
  put32(out, kPixelOffsetAt, static_cast<uint32_t>(kBmpHeadersSize));
  put32(out, kInfoSizeAt, kInfoHeaderSize);
  put32(out, kWidthAt, width);
  put32(out, kHeightAt, height);
  put16(out, kPlanesAt, 1);
  put16(out, kBitsPerPixelAt, kBitsPerPixel);
  put32(out, kImageSizeAt, imageSize);
}

void writeBmpToBuffer(uint8_t* buffer, const uint8_t* pixels, int pitch, uint32_t width, uint32_t height) {
  writeBmpHeaders(buffer, width, height);
  const size_t rowBytes = static_cast<size_t>(width) * kBytesPerPixel;
  uint8_t* out = buffer + kBmpHeadersSize;
  for (uint32_t row = height; row-- > 0;) {
    std::memcpy(out, pixels + static_cast<ptrdiff_t>(row) * pitch, rowBytes);
    out += rowBytes;
  }
}

bool writeBmpFile(const char* path, const uint8_t* pixels, int pitch, uint32_t width, uint32_t height) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return false;
  }
  uint8_t headers[kBmpHeadersSize];
  writeBmpHeaders(headers, width, height);
  bool written = std::fwrite(headers, 1, sizeof headers, file) == sizeof headers;
  const size_t rowBytes = static_cast<size_t>(width) * kBytesPerPixel;
  for (uint32_t row = height; written && row-- > 0;) {
    written = std::fwrite(pixels + static_cast<ptrdiff_t>(row) * pitch, 1, rowBytes, file) == rowBytes;
  }
  written = (std::fclose(file) == 0) && written;
  if (!written) {
    std::remove(path);
  }
  return written;
}

}  // namespace lumvara
