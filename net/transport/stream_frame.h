#pragma once
// The stream frame: a 32-byte little-endian header followed by `length`
// payload bytes. Every stream connection carries frames in both directions
// (camera media and notices in, talk audio out). Fields are read from the
// bytes explicitly so that alignment and host byte order never matter.

#include <cstddef>
#include <cstdint>

namespace lumvara {

inline constexpr uint32_t kFrameMagic = 0xA815AA55;
inline constexpr size_t kFrameHeaderSize = 32;
// The largest payload a frame may announce.
inline constexpr uint32_t kMaxFramePayload = 0x80000;
// A player's copy of one frame: header plus the largest payload.
inline constexpr size_t kFrameBlockSize = kFrameHeaderSize + kMaxFramePayload;

// Byte offsets of the header fields; the bytes in between are not read and
// are sent as zero.
inline constexpr size_t kFrameMagicOffset = 0;
inline constexpr size_t kFrameKindOffset = 4;
inline constexpr size_t kFrameTimeOffset = 8;
inline constexpr size_t kFrameSeqOffset = 12;
inline constexpr size_t kFrameLengthOffset = 16;
inline constexpr size_t kFrameZoneOffset = 25;

// Frame kinds (header byte 4, unsigned).
namespace FrameKind {
inline constexpr uint8_t H264Key = 0;
inline constexpr uint8_t H264 = 1;
inline constexpr uint8_t Jpeg = 3;
inline constexpr uint8_t Adpcm = 6;
inline constexpr uint8_t Alaw = 7;
inline constexpr uint8_t Talk = 8;
inline constexpr uint8_t MotionAlarm = 32;
inline constexpr uint8_t GpioAlarm = 33;
inline constexpr uint8_t MotionAlarmOver = 34;
inline constexpr uint8_t GpioAlarmOver = 35;
inline constexpr uint8_t LoginRefused = 200;
inline constexpr uint8_t TooManyConnections = 201;
inline constexpr uint8_t RequestTypeError = 202;
inline constexpr uint8_t VideoLoss = 203;
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
