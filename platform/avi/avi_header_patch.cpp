#include "platform/avi/avi_header_patch.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace lumvara {
namespace {

constexpr size_t kChunkHeaderSize = 8;  // FourCC, 32-bit size
constexpr size_t kListHeaderSize = 12;  // "LIST", size, list type

// Fields of the main header (avih), offsets inside its data.
constexpr size_t kAvihSize = 56;
constexpr size_t kAvihWidth = 32;
constexpr size_t kAvihHeight = 36;

// Fields of a stream header (strh), offsets inside its data.
constexpr size_t kStrhSize = 56;
constexpr size_t kStrhType = 0;
constexpr size_t kStrhHandler = 4;
constexpr size_t kStrhSuggestedBufferSize = 36;
constexpr size_t kStrhQuality = 40;
constexpr size_t kStrhFrameRight = 52;
constexpr size_t kStrhFrameBottom = 54;

// BITMAPINFOHEADER.
constexpr size_t kBitmapInfoSize = 40;
constexpr size_t kBiWidth = 4;
constexpr size_t kBiHeight = 8;
constexpr size_t kBiSizeImage = 20;

// WAVEFORMAT and WAVEFORMATEX (the latter adds a 16-bit cbSize).
constexpr size_t kWaveFormatSize = 16;
constexpr size_t kWaveFormatExSize = 18;

// The header list is small; the muxer reserves about 4 KB per stream.
constexpr size_t kMaxHeaderBytes = 1 << 20;

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Write32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void Write16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

bool IsTag(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

struct Chunk {
  uint8_t* header;  // FourCC
  uint8_t* data;
  size_t size;  // data bytes, without padding
  size_t Span() const { return kChunkHeaderSize + size + (size & 1); }
};

// The chunks inside [begin, end); false when one runs past the end.
bool ListChunks(uint8_t* begin, uint8_t* end, std::vector<Chunk>* out) {
  uint8_t* p = begin;
  while (static_cast<size_t>(end - p) >= kChunkHeaderSize) {
    Chunk c{p, p + kChunkHeaderSize, Read32(p + 4)};
    if (c.size > static_cast<size_t>(end - c.data)) return false;
    out->push_back(c);
    p += std::min(c.Span(), static_cast<size_t>(end - p));
  }
  return true;
}

void PatchVideoStream(Chunk& strh, Chunk& strf, const AviVideoFormat& video) {
  const uint32_t picture = video.width * video.height;
  uint8_t* h = strh.data;
  Write32(h + kStrhSuggestedBufferSize, std::max(picture, Read32(h + kStrhSuggestedBufferSize)));
  Write32(h + kStrhQuality, 0);
  Write16(h + kStrhFrameRight, video.width);
  Write16(h + kStrhFrameBottom, video.height);
  uint8_t* bi = strf.data;
  Write32(bi + kBiWidth, video.width);
  Write32(bi + kBiHeight, video.height);
  Write32(bi + kBiSizeImage, 0);
}

// Grows a 16-byte WAVEFORMAT to WAVEFORMATEX by taking two bytes from the
// reserved chunk that follows it (JUNK, or the OpenDML super index written
// into that space). The super index keeps its entries: it only loses two of
// the spare bytes after its last possible entry.
bool GrowWaveFormat(Chunk& strf, Chunk* next) {
  if (strf.size == kWaveFormatExSize) return true;
  if (strf.size != kWaveFormatSize || !next || next->size < 2 || next->header != strf.data + strf.size) return false;
  const size_t grow = kWaveFormatExSize - kWaveFormatSize;
  // Move the next chunk's header and data (minus its last 2 bytes) up.
  std::memmove(next->header + grow, next->header, kChunkHeaderSize + next->size - grow);
  Write32(next->header + grow + 4, static_cast<uint32_t>(next->size - grow));
  Write32(strf.header + 4, kWaveFormatExSize);
  Write16(strf.data + kWaveFormatSize, 0);  // cbSize
  return true;
}

bool PatchStreamList(Chunk& strl, const AviVideoFormat& video) {
  if (strl.size < 4 || !IsTag(strl.data, "strl")) return true;
  std::vector<Chunk> parts;
  if (!ListChunks(strl.data + 4, strl.data + strl.size, &parts)) return false;
  if (parts.size() < 2 || !IsTag(parts[0].header, "strh") || !IsTag(parts[1].header, "strf") ||
      parts[0].size < kStrhSize)
    return false;
  Chunk& strh = parts[0];
  Chunk& strf = parts[1];
  if (IsTag(strh.data + kStrhType, "vids")) {
    if (strf.size < kBitmapInfoSize) return false;
    PatchVideoStream(strh, strf, video);
    return true;
  }
  if (IsTag(strh.data + kStrhType, "auds")) {
    Write32(strh.data + kStrhHandler, 0);
    Write32(strh.data + kStrhQuality, 0);
    return GrowWaveFormat(strf, parts.size() > 2 ? &parts[2] : nullptr);
  }
  return true;
}

}  // namespace

bool PatchAviHeaderBytes(uint8_t* bytes, size_t size, const AviVideoFormat& video) {
  if (size < 2 * kListHeaderSize || !IsTag(bytes, "RIFF") || !IsTag(bytes + 8, "AVI ") || !IsTag(bytes + 12, "LIST") ||
      !IsTag(bytes + 20, "hdrl"))
    return false;
  const size_t hdrlSize = Read32(bytes + 16);
  if (hdrlSize < 4 || hdrlSize > size - kListHeaderSize - 8) return false;
  uint8_t* listBegin = bytes + kListHeaderSize + kListHeaderSize;
  uint8_t* listEnd = bytes + kListHeaderSize + kChunkHeaderSize + hdrlSize;
  std::vector<Chunk> chunks;
  if (!ListChunks(listBegin, listEnd, &chunks) || chunks.empty() || !IsTag(chunks[0].header, "avih") ||
      chunks[0].size < kAvihSize)
    return false;
  Write32(chunks[0].data + kAvihWidth, video.width);
  Write32(chunks[0].data + kAvihHeight, video.height);
  for (Chunk& c : chunks) {
    if (IsTag(c.header, "LIST") && !PatchStreamList(c, video)) return false;
  }
  return true;
}

bool PatchAviHeaders(int fd, const AviVideoFormat& video) {
  uint8_t head[kListHeaderSize + kChunkHeaderSize];
  if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
  const size_t total = kListHeaderSize + kChunkHeaderSize + Read32(head + 16);
  if (total > kMaxHeaderBytes) return false;
  std::vector<uint8_t> bytes(total);
  if (::pread(fd, bytes.data(), total, 0) != static_cast<ssize_t>(total)) return false;
  if (!PatchAviHeaderBytes(bytes.data(), bytes.size(), video)) return false;
  return ::pwrite(fd, bytes.data(), total, 0) == static_cast<ssize_t>(total);
}

}  // namespace lumvara
