#include "platform/winsys/framebuffer.h"

#include <algorithm>
#include <cstring>

namespace lumvara::winsys {

void Framebuffer::Resize(int new_width, int new_height) {
  if (new_width == width && new_height == height) return;
  const int new_pitch = new_width * 4;
  std::vector<uint8_t> next(static_cast<size_t>(new_pitch) * static_cast<size_t>(new_height), 0);
  const int rows = std::min(height, new_height);
  const int bytes = std::min(pitch, new_pitch);
  for (int y = 0; y < rows; ++y) {
    std::memcpy(next.data() + static_cast<size_t>(y) * new_pitch, pixels.data() + static_cast<size_t>(y) * pitch,
                static_cast<size_t>(bytes));
  }
  pixels = std::move(next);
  width = new_width;
  height = new_height;
  pitch = new_pitch;
}

}  // namespace lumvara::winsys
