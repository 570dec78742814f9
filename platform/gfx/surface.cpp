#include "platform/gfx/surface.h"

#include <cairo.h>

namespace lumvara::gfx {

std::unique_ptr<Surface> Surface::Create(int width, int height) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return nullptr;
  // RGB24 is 32 bits per pixel, blue in byte 0 on a little-endian machine,
  // byte 3 unused: the BGRX layout. Cairo fills new surfaces with zeros.
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return std::unique_ptr<Surface>(new Surface(surface, width, height));
}

Surface::Surface(cairo_surface_t* surface, int width, int height)
    : surface_(surface), width_(width), height_(height), pitch_(cairo_image_surface_get_stride(surface)) {}

Surface::~Surface() { cairo_surface_destroy(surface_); }

uint8_t* Surface::Lock(int* pitch) {
  cairo_surface_flush(surface_);
  if (pitch) *pitch = pitch_;
  return cairo_image_surface_get_data(surface_);
}

void Surface::Unlock() { cairo_surface_mark_dirty(surface_); }

const uint8_t* Surface::bits() const {
  cairo_surface_flush(surface_);
  return cairo_image_surface_get_data(surface_);
}

}  // namespace lumvara::gfx
