#pragma once
// Converts a 4:2:0 picture to 32-bit BGRX pixels with the colour tables:
// per pixel, with luma y and the chroma pair (cb, cr) of its 2x2 block,
//   byte 0, blue  = clip[(L[y] + B2[cb]) >> 16]
//   byte 1, green = clip[(L[y] - A1[cr] - B1[cb]) >> 16]
//   byte 2, red   = clip[(L[y] + A0[cr]) >> 16]
//   byte 3 = 0.
// Only additions, one shift per channel and clip look-ups per pixel; each
// chroma pair serves a 2 x 2 block. Cb is the plane that follows luma in
// I420, Cr the last one.

#include <cstdint>

namespace lumvara {

struct I420Planes {
  const uint8_t* luma = nullptr;
  const uint8_t* cb = nullptr;  // (width / 2) x (height / 2) samples
  const uint8_t* cr = nullptr;  // (width / 2) x (height / 2) samples
  int lumaStride = 0;
  int chromaStride = 0;
  int width = 0;
  int height = 0;
};

// The planes of a packed I420 picture: luma width x height bytes, then Cb
// and Cr planes of (width / 2) x (height / 2) bytes each.
I420Planes packedI420(const uint8_t* picture, int width, int height);

// Bytes a packed I420 picture of this size occupies.
uint64_t packedI420Size(int width, int height);

enum class ConversionPath {
  Fastest,    // the widest vector code the processor has, else the tables
  Vector256,  // at most 256-bit vector code (AVX2), else the tables
  Tables,     // the table look-ups, pixel by pixel
};

// Writes width x height pixels, rows `dstPitch` bytes apart. Odd sizes: the
// last column or row uses the chroma of the block beside it; a picture
// without chroma samples (width or height 1) converts with neutral chroma.
// Every path gives identical bytes.
void convertI420ToBgrx(const I420Planes& src, uint8_t* dst, int dstPitch,
                       ConversionPath path = ConversionPath::Fastest);

}  // namespace lumvara
