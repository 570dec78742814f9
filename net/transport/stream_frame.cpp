#include "net/transport/stream_frame.h"

#include <cstring>

namespace lumvara {

void writeFrameHeader(uint8_t* header, uint8_t kind, uint32_t time, uint32_t seq, uint32_t length, int8_t zone) {
  std::memset(header, 0, kFrameHeaderSize);
  writeLe32(header + kFrameMagicOffset, kFrameMagic);
  header[kFrameKindOffset] = kind;
  writeLe32(header + kFrameTimeOffset, time);
  writeLe32(header + kFrameSeqOffset, seq);
  writeLe32(header + kFrameLengthOffset, length);
  header[kFrameZoneOffset] = static_cast<uint8_t>(zone);
}

}  // namespace lumvara
