#pragma once
// The binary WebSocket message that carries one picture of a control:
// a 16-byte little-endian header, then the JPEG.
//   offset 0  uint32 control id
//   offset 4  uint32 picture number, from 1
//   offset 8  float64 when the pixels were taken, milliseconds since the
//             Unix epoch (the page compares it with its own clock)

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lumvara::webhost {

inline constexpr size_t kPictureHeaderSize = 16;

struct PictureHeader {
  uint32_t control = 0;
  uint32_t sequence = 0;
  double takenMillis = 0;
};

inline void PutLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string EncodePictureHeader(const PictureHeader& h) {
  std::string out(kPictureHeaderSize, '\0');
  PutLe32(&out[0], h.control);
  PutLe32(&out[4], h.sequence);
  uint64_t bits = 0;
  static_assert(sizeof bits == sizeof h.takenMillis);
  std::memcpy(&bits, &h.takenMillis, sizeof bits);
  PutLe32(&out[8], static_cast<uint32_t>(bits));
  PutLe32(&out[12], static_cast<uint32_t>(bits >> 32));
  return out;
}

// Milliseconds since the Unix epoch, with fractions.
double PictureClockMillis();

}  // namespace lumvara::webhost
