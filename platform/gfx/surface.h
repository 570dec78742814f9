#pragma once
// Off-screen pictures: 32-bit BGRX surfaces. Bytes 0, 1, 2 of a pixel are
// blue, green and red; byte 3 is not used by drawing (a blit or text may
// leave any value there). Rows are pitch() bytes apart, pitch >= width x 4.
//
// A surface has no lock of its own: one thread uses it at a time (the
// renderer's picture lock guards its surfaces).

#include <cstdint>
#include <memory>

#include "platform/winsys/rect.h"

typedef struct _cairo_surface cairo_surface_t;

namespace lumvara::gfx {

using winsys::Point;
using winsys::Rect;

class Surface {
 public:
  // Largest width or height accepted.
  static constexpr int kMaxSide = 16384;

  // A surface of width x height, all pixels 0. Null when a side is not in
  // 1 ... kMaxSide or memory runs out.
  static std::unique_ptr<Surface> Create(int width, int height);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  int pitch() const { return pitch_; }

  // Direct access to the pixels for writing or reading: the address of the
  // top row; `*pitch` receives the row distance. Call Unlock() after
  // writing so that drawing sees the change. Never null.
  uint8_t* Lock(int* pitch);
  void Unlock();
  // Read-only view of the pixels (no Unlock needed).
  const uint8_t* bits() const;

  // For the drawing layer's own use.
  cairo_surface_t* cairo() const { return surface_; }

 private:
  Surface(cairo_surface_t* surface, int width, int height);
  cairo_surface_t* surface_;
  int width_;
  int height_;
  int pitch_;
};

}  // namespace lumvara::gfx
