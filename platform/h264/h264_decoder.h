#pragma once
// H.264 decoding, one access unit per call, over libavcodec. The player hands
// each frame's payload whole and copies the picture's planes out before its
// next call: the planes belong to the decoder.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumvara {

// The eight creation attributes the player passes. Only the reference
// picture count is a hint to the decoder; the picture size fields describe a
// limit the player enforces itself with its buffer-size check, so larger
// pictures decode too. The reserved fields carry the fixed values the player
// gives (0, and 16 in the sixth) and are not read.
struct H264DecoderAttributes {
  uint32_t reserved0 = 0;
  uint32_t reserved1 = 0;
  uint32_t maxWidthMacroblocks = 80;
  uint32_t maxHeightMacroblocks = 45;
  uint32_t referencePictures = 8;
  uint32_t reserved5 = 16;
  uint32_t reserved6 = 0;
  uint32_t reserved7 = 0;
};

// A decoded 4:2:0 picture. The planes are valid until the next decode call
// or until the decoder is destroyed. `error` is non-zero when the access unit
// gave no usable picture (corrupt data, no picture yet, a format that is not
// 8-bit 4:2:0); the other fields are then meaningless.
struct H264Picture {
  const uint8_t* luma = nullptr;
  const uint8_t* chroma1 = nullptr;  // Cb
  const uint8_t* chroma2 = nullptr;  // Cr
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t lumaStride = 0;
  uint32_t chromaStride = 0;
  uint32_t error = 1;
};

class H264Decoder {
 public:
  // Null when libavcodec has no H.264 decoder or cannot open one.
  static std::unique_ptr<H264Decoder> create(const H264DecoderAttributes& attributes);
  ~H264Decoder();
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // Decodes one whole access unit. Returns 0 when the call itself succeeded;
  // the picture is usable only when it returned 0 and picture.error is 0.
  // Empty or null input is refused (non-zero) without touching the decoder.
  int decodeAccessUnit(const uint8_t* data, size_t length, H264Picture& picture);

 private:
  struct Impl;
  explicit H264Decoder(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumvara
