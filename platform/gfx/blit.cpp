// Stretch and mirror blits. Scaling always uses bilinear filtering, chosen
// explicitly: Cairo's default ("good") filter is many times slower at the
// odd scales a window gives.
#include "platform/gfx/blit.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/gfx/blit_internal.h"
#include "platform/winsys/window_canvas.h"

namespace lumvara::gfx {

namespace {

bool ValidSource(const Surface& src, const Rect& r) {
  return !r.empty() && r.left >= 0 && r.top >= 0 && r.right <= src.width() && r.bottom <= src.height();
}

}  // namespace

void PaintStretched(cairo_t* cr, const Surface& src, const Rect& src_rect, const Rect& dst_rect) {
  const bool whole =
      src_rect.left == 0 && src_rect.top == 0 && src_rect.right == src.width() && src_rect.bottom == src.height();
  // A part of the surface is read through a view of just that part, so that
  // pixels beside it never bleed in through the filter.
  cairo_surface_t* source = whole ? src.cairo()
                                  : cairo_surface_create_for_rectangle(src.cairo(), src_rect.left, src_rect.top,
                                                                       src_rect.width(), src_rect.height());
  cairo_save(cr);
  cairo_rectangle(cr, dst_rect.left, dst_rect.top, dst_rect.width(), dst_rect.height());
  cairo_clip(cr);
  cairo_translate(cr, dst_rect.left, dst_rect.top);
  cairo_scale(cr, static_cast<double>(dst_rect.width()) / src_rect.width(),
              static_cast<double>(dst_rect.height()) / src_rect.height());
  cairo_set_source_surface(cr, source, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
  // Edge pixels repeat instead of fading into black at the borders.
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_restore(cr);
  if (!whole) cairo_surface_destroy(source);
}

void ClipToCanvas(cairo_t* cr, const winsys::WindowCanvas& canvas) {
  // The pieces are disjoint, so the default winding rule covers each once.
  cairo_new_path(cr);
  for (const Rect& r : canvas.visible()) cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
  cairo_clip(cr);
}

cairo_surface_t* WrapCanvas(const winsys::WindowCanvas& canvas) {
  return cairo_image_surface_create_for_data(canvas.pixels(), CAIRO_FORMAT_RGB24, canvas.width(), canvas.height(),
                                             canvas.pitch());
}

bool StretchBlitToScreen(const Surface& src, const Rect& src_rect, const Rect& dst_screen, winsys::HWND clip_window) {
  if (!ValidSource(src, src_rect) || dst_screen.empty()) return false;
  winsys::WindowCanvas canvas(clip_window);
  if (!canvas) return false;
  if (canvas.visible().empty()) return true;
  const winsys::Point origin = canvas.screen_origin();
  const Rect dst = dst_screen.offset(-origin.x, -origin.y);
  cairo_surface_t* target = WrapCanvas(canvas);
  cairo_t* cr = cairo_create(target);
  ClipToCanvas(cr, canvas);
  PaintStretched(cr, src, src_rect, dst);
  const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_flush(target);
  cairo_surface_destroy(target);
  return ok;
}

bool StretchBlit(const Surface& src, const Rect& src_rect, Surface& dst, const Rect& dst_rect) {
  if (!ValidSource(src, src_rect) || dst_rect.empty()) return false;
  cairo_t* cr = cairo_create(dst.cairo());
  PaintStretched(cr, src, src_rect, dst_rect);
  const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  return ok;
}

void MirrorPixels(uint8_t* pixels, int width, int height, int pitch, uint32_t mirror) {
  if (!pixels || width < 1 || height < 1) return;
  if (mirror & kMirrorLeftRight) {
    for (int y = 0; y < height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(pixels + static_cast<size_t>(y) * pitch);
      std::reverse(row, row + width);
    }
  }
  if (mirror & kMirrorUpDown) {
    const size_t bytes = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> scratch(bytes);
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
      uint8_t* a = pixels + static_cast<size_t>(top) * pitch;
      uint8_t* b = pixels + static_cast<size_t>(bottom) * pitch;
      std::memcpy(scratch.data(), a, bytes);
      std::memcpy(a, b, bytes);
      std::memcpy(b, scratch.data(), bytes);
    }
  }
}

void MirrorBlit(Surface& surface, uint32_t mirror) {
  if (!(mirror & (kMirrorLeftRight | kMirrorUpDown))) return;
  int pitch = 0;
  uint8_t* pixels = surface.Lock(&pitch);
  MirrorPixels(pixels, surface.width(), surface.height(), pitch, mirror);
  surface.Unlock();
}

}  // namespace lumvara::gfx
