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
    // Each frame is handed out from the start of the buffer, so that it is as
    // aligned as the buffer itself for callers that read it as a record.
    uint8_t* const start = buffer_.get();
    while (count_ >= kFrameHeaderSize) {
        const uint32_t length = frameLength(start);
        if (frameMagic(start) != kFrameMagic || length > kMaxReassembledPayload) {
            count_ = 0;
            return Status::Corrupt;
        }
        const size_t total = kFrameHeaderSize + length;
        if (count_ < total) {
            break;
        }
        if (sink != nullptr) {
            sink(start, total, context);
        }
        count_ -= total;
        if (count_ > 0) {
            std::memmove(start, start + total, count_);
        }
    }
    return Status::Ok;
}

}  // namespace lumvara
