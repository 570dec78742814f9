#pragma once
// Turns the byte stream of a stream connection into whole frames.
//
// The receive thread receives straight into freeSpace() and then calls
// commit(); tests (and any other byte source) may call feed(). Complete
// frames are handed out header first, in one contiguous block, at an address
// aligned to kFrameAlignment; frames are delivered in place and the bytes of
// a partial frame move to the start of the buffer once per commit, so the
// cost of a read grows with its size, not with its number of frames.
//
// A frame is corrupt when its magic is wrong or when it could never be held
// whole: the buffer is 0x80000 bytes, so any `length` above
// 0x80000 - 32 is refused like an over-long one (an honest 0x80000-byte
// payload would otherwise never fit and the connection would stall, or the
// receive would run past the buffer). After Corrupt the reassembler holds
// nothing and must not be fed again until clear().
//
// Not thread-safe: one owner (the receive thread) uses it.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/transport/stream_frame.h"

namespace lumvara {

// The reassembly buffer of one stream connection.
inline constexpr size_t kReassemblyBufferSize = 0x80000;
// Every delivered frame starts at an address that is a multiple of this
// (the alignment of the header's 32-bit fields).
inline constexpr size_t kFrameAlignment = 4;
// The largest `length` whose frame fits the buffer whole.
inline constexpr uint32_t kMaxReassembledPayload = kReassemblyBufferSize - kFrameHeaderSize;

class FrameReassembler {
 public:
  enum class Status { Ok, Corrupt };

  // Called once per whole frame with the frame and its total length
  // (32 + length). The frame is valid only during the call.
  using FrameSink = void (*)(const uint8_t* frame, size_t totalLength, void* context);

  FrameReassembler();

  uint8_t* freeSpace() { return buffer_.get() + count_; }
  size_t freeBytes() const { return kReassemblyBufferSize - count_; }

  // `received` bytes were written at freeSpace(); deliver what is whole.
  Status commit(size_t received, FrameSink sink, void* context);

  // Copies `size` bytes in (in as many steps as the buffer needs) and
  // delivers whole frames; stops at the first corrupt header.
  Status feed(const uint8_t* data, size_t size, FrameSink sink, void* context);

  size_t held() const { return count_; }
  void clear() { count_ = 0; }

 private:
  Status deliver(FrameSink sink, void* context);

  std::unique_ptr<uint8_t[]> buffer_;
  size_t count_ = 0;
};

}  // namespace lumvara
