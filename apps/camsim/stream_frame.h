// The camera's stream framing, written and read byte by byte: a 32-byte
// little-endian header (magic, kind, time, seq, length, zone) before every
// payload, and the frame kinds.
//
// The simulator keeps its own copy of these wire facts, and parses requests
// by itself, on purpose: it shares no code or constant with the client's
// protocol layer (net/transport, include/lumvara/device.h), so a mistake on
// one side shows up as a failure against the other instead of agreeing with
// itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumvara::camsim {

// Frame kinds the camera sends (and the talk kind it receives).
inline constexpr uint8_t kKindH264Key = 0;
inline constexpr uint8_t kKindH264Other = 1;
inline constexpr uint8_t kKindJpeg = 3;
inline constexpr uint8_t kKindAdpcm = 6;
inline constexpr uint8_t kKindAlaw = 7;
inline constexpr uint8_t kKindTalk = 8;
inline constexpr uint8_t kKindMotionAlarm = 32;
inline constexpr uint8_t kKindInputAlarm = 33;
inline constexpr uint8_t kKindMotionAlarmOver = 34;
inline constexpr uint8_t kKindInputAlarmOver = 35;
inline constexpr uint8_t kKindLoginRefused = 200;
inline constexpr uint8_t kKindTooManyConnections = 201;
inline constexpr uint8_t kKindRequestTypeError = 202;
inline constexpr uint8_t kKindVideoLoss = 203;

inline constexpr uint32_t kFrameMagic = 0xA815AA55;
inline constexpr size_t kFrameHeaderSize = 32;
inline constexpr uint32_t kMaxFramePayload = 0x80000;
inline constexpr size_t kOffsetMagic = 0;
inline constexpr size_t kOffsetKind = 4;
inline constexpr size_t kOffsetTime = 8;
inline constexpr size_t kOffsetSeq = 12;
inline constexpr size_t kOffsetLength = 16;
inline constexpr size_t kOffsetZone = 25;

inline void putLe32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t getLe32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
         static_cast<uint32_t>(in[3]) << 24;
}

struct FrameFields {
  uint32_t magic = kFrameMagic;
  uint8_t kind = 0;
  uint32_t time = 0;
  uint32_t seq = 0;
  uint32_t length = 0;
  int8_t zone = 0;
};

inline void writeFrameHeader(uint8_t* out, const FrameFields& fields) {
  for (size_t i = 0; i < kFrameHeaderSize; ++i) out[i] = 0;
  putLe32(out + kOffsetMagic, fields.magic);
  out[kOffsetKind] = fields.kind;
  putLe32(out + kOffsetTime, fields.time);
  putLe32(out + kOffsetSeq, fields.seq);
  putLe32(out + kOffsetLength, fields.length);
  out[kOffsetZone] = static_cast<uint8_t>(fields.zone);
}

inline FrameFields readFrameHeader(const uint8_t* in) {
  FrameFields fields;
  fields.magic = getLe32(in + kOffsetMagic);
  fields.kind = in[kOffsetKind];
  fields.time = getLe32(in + kOffsetTime);
  fields.seq = getLe32(in + kOffsetSeq);
  fields.length = getLe32(in + kOffsetLength);
  fields.zone = static_cast<int8_t>(in[kOffsetZone]);
  return fields;
}

// Header and payload in one block; `fields.length` is set from `size`.
inline std::vector<uint8_t> buildFrame(FrameFields fields, const uint8_t* payload, size_t size) {
  std::vector<uint8_t> frame(kFrameHeaderSize + size);
  fields.length = static_cast<uint32_t>(size);
  writeFrameHeader(frame.data(), fields);
  for (size_t i = 0; i < size; ++i) frame[kFrameHeaderSize + i] = payload[i];
  return frame;
}

}  // namespace lumvara::camsim
