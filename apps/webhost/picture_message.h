#pragma once
// The binary WebSocket message that carries one picture of a control:
// a 24-byte little-endian header, then the JPEG.
//   offset 0   uint32 control id
//   offset 4   uint32 picture number, from 1
//   offset 8   float64 when the host took the pixels, milliseconds since
//              the Unix epoch (the page compares it with its own clock)
//   offset 16  float64 when the camera frame the picture shows reached the
//              player, milliseconds since the Unix epoch; 0 when the
//              picture shows no camera frame

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lumvara::webhost {

inline constexpr size_t kPictureHeaderSize = 24;

struct PictureHeader {
  uint32_t control = 0;
  uint32_t sequence = 0;
  double takenMillis = 0;
  double frameMillis = 0;
};

inline void PutLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void PutLeDouble(char* p, double v) {
  uint64_t bits = 0;
  static_assert(sizeof bits == sizeof v);
  std::memcpy(&bits, &v, sizeof bits);
  PutLe32(p, static_cast<uint32_t>(bits));
  PutLe32(p + 4, static_cast<uint32_t>(bits >> 32));
}

inline std::string EncodePictureHeader(const PictureHeader& h) {
  std::string out(kPictureHeaderSize, '\0');
  PutLe32(&out[0], h.control);
  PutLe32(&out[4], h.sequence);
  PutLeDouble(&out[8], h.takenMillis);
  PutLeDouble(&out[16], h.frameMillis);
  static_assert(kPictureHeaderSize == 2 * sizeof(uint32_t) + 2 * sizeof(double));
  return out;
}

// Milliseconds since the Unix epoch, with fractions.
double PictureClockMillis();

}  // namespace lumvara::webhost
