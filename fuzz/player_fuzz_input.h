#pragma once
// The script a player fuzz target plays: frames of every kind (whole, or
// with headers as the input has them), ticks of the decode or render
// thread, and the window-side calls a page makes meanwhile.
//
// Each step starts with one byte:
//   bits 0-1 = 0 or 1: a frame. The next byte picks its kind (from the
//     kinds cameras send, or the byte itself), four bytes give its time and
//     one its zone, two bytes the payload length L, and L payload bytes
//     follow. Bit 7 of the step byte set: the
//     frame is L bytes of input as they stand, its header included, so that
//     headers may lie about their length.
//   bits 0-1 = 2: a tick; the target waits until the player's thread took it.
//   bits 0-1 = 3: a call from the window's side, bits 2-7 picking which.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <lumvara/device.h>

namespace lumvara::fuzz {

inline void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A frame header as cameras write it (little-endian, unnamed bytes zero).
inline void writeHeader(uint8_t* header, uint8_t kind, uint32_t time, uint32_t seq, uint32_t length, int8_t zone) {
  std::memset(header, 0, LUMVARA_FRAME_HEADER_SIZE);
  putLe32(header, LUMVARA_FRAME_MAGIC);
  header[4] = kind;
  putLe32(header + 8, time);
  putLe32(header + 12, seq);
  putLe32(header + 16, length);
  header[25] = static_cast<uint8_t>(zone);
}

inline constexpr uint8_t kCameraKinds[] = {0, 1, 3, 6, 7, 8, 32, 33, 34, 35, 200, 201, 202, 203};

struct Step {
  enum class Kind { Frame, Tick, Call, End } kind = Kind::End;
  // Frame: exactly `length` bytes on the heap, so that a read past the
  // frame is caught.
  std::unique_ptr<uint8_t[]> frame;
  uint32_t length = 0;
  uint8_t call = 0;      // Call: which
  int32_t argument = 0;  // Call: a value for it
};

class StepReader {
 public:
  StepReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  Step next() {
    Step step;
    if (at_ >= size_) return step;
    const uint8_t op = data_[at_++];
    switch (op & 3) {
      case 0:
      case 1:
        return frame(op);
      case 2:
        step.kind = Step::Kind::Tick;
        return step;
      default:
        step.kind = Step::Kind::Call;
        step.call = static_cast<uint8_t>(op >> 2);
        step.argument = static_cast<int32_t>(take(4));
        return step;
    }
  }

 private:
  uint32_t take(size_t bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < bytes && at_ < size_; ++i) value |= static_cast<uint32_t>(data_[at_++]) << (8 * i);
    return value;
  }

  Step frame(uint8_t op) {
    Step step;
    step.kind = Step::Kind::Frame;
    const uint8_t kindByte = static_cast<uint8_t>(take(1));
    const uint32_t time = take(4);
    const auto zone = static_cast<int8_t>(take(1));
    size_t length = take(2);
    if (length > size_ - at_) length = size_ - at_;
    if (op & 0x80) {
      (void)time;
      (void)zone;
      step.length = static_cast<uint32_t>(length);
      step.frame = std::make_unique<uint8_t[]>(length == 0 ? 1 : length);
      if (length > 0) std::memcpy(step.frame.get(), data_ + at_, length);
    } else {
      const uint8_t kind = (kindByte & 0x80) ? kindByte : kCameraKinds[kindByte % std::size(kCameraKinds)];
      step.length = static_cast<uint32_t>(LUMVARA_FRAME_HEADER_SIZE + length);
      step.frame = std::make_unique<uint8_t[]>(step.length);
      writeHeader(step.frame.get(), kind, time, ++seq_, static_cast<uint32_t>(length), zone);
      if (length > 0) std::memcpy(step.frame.get() + LUMVARA_FRAME_HEADER_SIZE, data_ + at_, length);
    }
    at_ += length;
    return step;
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  uint32_t seq_ = 0;
};

}  // namespace lumvara::fuzz
