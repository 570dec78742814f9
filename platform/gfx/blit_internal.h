#pragma once
// Shared by the blits and the device contexts.

#include "platform/gfx/surface.h"
#include "platform/winsys/window_canvas.h"

typedef struct _cairo cairo_t;

namespace lumvara::gfx {

// Paints `src_rect` of `src` stretched onto `dst_rect` (bilinear), replacing
// what was there, within the context's current clip.
void PaintStretched(cairo_t* cr, const Surface& src, const Rect& src_rect, const Rect& dst_rect);

// Restricts drawing to the canvas's visible rectangles (an empty set clips
// everything away).
void ClipToCanvas(cairo_t* cr, const winsys::WindowCanvas& canvas);

// A Cairo surface over a locked window framebuffer; the caller destroys it
// before the canvas goes.
cairo_surface_t* WrapCanvas(const winsys::WindowCanvas& canvas);

}  // namespace lumvara::gfx
