#include "net/transport/frame_reassembler.h"

#include <algorithm>
#include <cstring>

namespace lumvara {

FrameReassembler::FrameReassembler() : buffer_(std::make_unique<uint8_t[]>(kReassemblyBufferSize)) {}

FrameReassembler::Status FrameReassembler::commit(size_t received, FrameSink sink, void* context) {
  count_ += std::min(received, freeBytes());
  return deliver(sink, context);
}

FrameReassembler::Status FrameReassembler::feed(const uint8_t* data, size_t size, FrameSink sink, void* context) {
  while (size > 0) {
    const size_t step = std::min(size, freeBytes());
    std::memcpy(freeSpace(), data, step);
    if (commit(step, sink, context) == Status::Corrupt) {
      return Status::Corrupt;
    }
    data += step;
    size -= step;
  }
  return Status::Ok;
}

FrameReassembler::Status FrameReassembler::deliver(FrameSink sink, void* context) {
  // Frames are handed out where they lie; the bytes of a partial frame left
  // at the end move to the start once, after the last whole frame. A frame
  // that lies at an offset not aligned for the header's 32-bit fields is
  // first moved to the start of the buffer (those bytes are all delivered),
  // so that every frame is as aligned as the buffer for callers that read
  // it as a record. Each byte is thus moved at most twice per read, however
  // many frames the read holds.
  uint8_t* const start = buffer_.get();
  size_t head = 0;
  while (count_ - head >= kFrameHeaderSize) {
    const uint8_t* header = start + head;
    const uint32_t length = frameLength(header);
    if (frameMagic(header) != kFrameMagic || length > kMaxReassembledPayload) {
      count_ = 0;
      return Status::Corrupt;
    }
    const size_t total = kFrameHeaderSize + length;
    if (count_ - head < total) {
      break;
    }
    if (sink != nullptr) {
      if (head % kFrameAlignment != 0) {
        std::memmove(start, header, total);
        header = start;
      }
      sink(header, total, context);
    }
    head += total;
  }
  count_ -= head;
  if (head > 0 && count_ > 0) {
    std::memmove(start, start + head, count_);
  }
  return Status::Ok;
}

}  // namespace lumvara
