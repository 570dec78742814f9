#pragma once
// The stream frame: a 32-byte little-endian header followed by `length`
// payload bytes. Every stream connection carries frames in both directions
// (camera media and notices in, talk audio out). Fields are read from the
// bytes explicitly so that alignment and host byte order never matter.

#include <lumvara/device.h>

#include <cstddef>
#include <cstdint>

namespace lumvara {

// The wire facts are the public header's (StreamFrameHeader and the
// LUMVARA_FRAME_* values); these are their names inside the library.
inline constexpr uint32_t kFrameMagic = LUMVARA_FRAME_MAGIC;
inline constexpr size_t kFrameHeaderSize = LUMVARA_FRAME_HEADER_SIZE;
// The largest payload a frame may announce.
inline constexpr uint32_t kMaxFramePayload = LUMVARA_FRAME_MAX_PAYLOAD;
static_assert(kFrameHeaderSize == sizeof(StreamFrameHeader));

// Byte offsets of the header fields; the bytes in between are not read and
// are sent as zero.
inline constexpr size_t kFrameMagicOffset = offsetof(StreamFrameHeader, magic);
inline constexpr size_t kFrameKindOffset = offsetof(StreamFrameHeader, kind);
inline constexpr size_t kFrameTimeOffset = offsetof(StreamFrameHeader, time);
inline constexpr size_t kFrameSeqOffset = offsetof(StreamFrameHeader, seq);
inline constexpr size_t kFrameLengthOffset = offsetof(StreamFrameHeader, length);
inline constexpr size_t kFrameZoneOffset = offsetof(StreamFrameHeader, zone);

// Frame kinds (header byte 4, unsigned).
namespace FrameKind {
inline constexpr uint8_t H264Key = LUMVARA_FRAME_KIND_H264_KEY;
inline constexpr uint8_t H264 = LUMVARA_FRAME_KIND_H264;
inline constexpr uint8_t Jpeg = LUMVARA_FRAME_KIND_JPEG;
inline constexpr uint8_t Adpcm = LUMVARA_FRAME_KIND_ADPCM;
inline constexpr uint8_t Alaw = LUMVARA_FRAME_KIND_ALAW;
inline constexpr uint8_t Talk = LUMVARA_FRAME_KIND_TALK;
inline constexpr uint8_t MotionAlarm = LUMVARA_FRAME_KIND_MOTION_ALARM;
inline constexpr uint8_t GpioAlarm = LUMVARA_FRAME_KIND_INPUT_ALARM;
inline constexpr uint8_t MotionAlarmOver = LUMVARA_FRAME_KIND_MOTION_OVER;
inline constexpr uint8_t GpioAlarmOver = LUMVARA_FRAME_KIND_INPUT_OVER;
inline constexpr uint8_t LoginRefused = LUMVARA_FRAME_KIND_LOGIN_REFUSED;
inline constexpr uint8_t TooManyConnections = LUMVARA_FRAME_KIND_TOO_MANY_USERS;
inline constexpr uint8_t RequestTypeError = LUMVARA_FRAME_KIND_REQUEST_ERROR;
inline constexpr uint8_t VideoLoss = LUMVARA_FRAME_KIND_VIDEO_LOSS;
}  // namespace FrameKind

inline uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

inline void writeLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void writeLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Field readers over a header's first 32 bytes.
inline uint32_t frameMagic(const uint8_t* header) { return readLe32(header + kFrameMagicOffset); }
inline uint8_t frameKind(const uint8_t* header) { return header[kFrameKindOffset]; }
inline uint32_t frameTime(const uint8_t* header) { return readLe32(header + kFrameTimeOffset); }
inline uint32_t frameSeq(const uint8_t* header) { return readLe32(header + kFrameSeqOffset); }
inline uint32_t frameLength(const uint8_t* header) { return readLe32(header + kFrameLengthOffset); }
inline int8_t frameZone(const uint8_t* header) { return static_cast<int8_t>(header[kFrameZoneOffset]); }

// Writes a whole header into `header` (32 bytes): the named fields, every
// other byte zero.
void writeFrameHeader(uint8_t* header, uint8_t kind, uint32_t time, uint32_t seq, uint32_t length, int8_t zone = 0);

}  // namespace lumvara
