#pragma once
// JPEG decoding to 32-bit BGRX pixels over TurboJPEG. One payload is one
// complete JPEG image; a damaged or truncated image fails cleanly.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumvara {

struct BgrxImage {
  uint32_t width = 0;
  uint32_t height = 0;
  // width * height pixels, rows top first, 4 bytes each: blue, green, red, 0.
  std::vector<uint8_t> pixels;
};

class JpegDecoder {
 public:
  // Pictures claiming more pixels than this are refused before anything is
  // allocated for them: a header is only a few bytes and may say anything.
  static constexpr uint64_t kMaxPixels = 8192ull * 8192ull;

  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Decodes the image into `image`. Returns false, leaving `image` empty,
  // for anything that is not a whole readable JPEG image.
  bool decode(const uint8_t* data, size_t length, BgrxImage& image);

  // Only reads the header; false when there is none to read.
  bool readSize(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height);

 private:
  void resetHandle();

  void* handle_;  // tjhandle; freed by the destructor
};

}  // namespace lumvara
