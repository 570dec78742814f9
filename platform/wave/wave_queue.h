#pragma once
// The buffer queue steps every capture backend shares.

#include "platform/wave/wave_in_device.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>

namespace lumvara {

// Copies captured bytes into the queued buffers in order (`data` null: a
// hole in the input, captured as silence); each buffer that becomes full
// leaves the queue and is reported done. Bytes beyond the queued room are
// lost. Call with the device's lock held.
inline void FillCaptureBuffers(std::deque<WaveBuffer*>& queue, const std::uint8_t* data, std::size_t bytes,
                               WaveInDevice::DoneHandler done, void* context) {
  std::size_t offset = 0;
  while (offset < bytes && !queue.empty()) {
    WaveBuffer* buffer = queue.front();
    const std::size_t n = std::min<std::size_t>(buffer->length - buffer->position, bytes - offset);
    if (data) {
      std::memcpy(buffer->data + buffer->position, data + offset, n);
    } else {
      std::memset(buffer->data + buffer->position, 0, n);
    }
    buffer->position += static_cast<std::uint32_t>(n);
    offset += n;
    if (buffer->position == buffer->length) {
      buffer->bytesRecorded = buffer->length;
      queue.pop_front();
      if (done) done(buffer, context);
    }
  }
}

}  // namespace lumvara
