#pragma once
// Copying pictures: stretch blits (bilinear filtering, always) and mirror
// blits.

#include <cstdint>

#include "platform/gfx/surface.h"
#include "platform/winsys/window.h"

namespace lumvara::gfx {

// Stretches `src_rect` of `src` onto `dst_screen`, a rectangle in screen
// coordinates, showing only the part that falls inside `clip_window`'s
// visible client area (cut by its ancestors and its top-level framebuffer,
// less its visible children when it has WS_CLIPCHILDREN).
// This is the picture-to-screen blit of the video renderer: the destination
// is where the window was when the renderer last looked, the clip is where
// the window is now. False for a dead window, an empty or out-of-surface
// source rectangle, or an empty destination. A hidden window draws nothing
// and the call succeeds. Any thread.
bool StretchBlitToScreen(const Surface& src, const Rect& src_rect, const Rect& dst_screen, winsys::HWND clip_window);

// Stretches `src_rect` of `src` onto `dst_rect` of `dst` (clipped to `dst`).
// False for an empty or out-of-surface source or an empty destination.
bool StretchBlit(const Surface& src, const Rect& src_rect, Surface& dst, const Rect& dst_rect);

// Mirror flags.
inline constexpr uint32_t kMirrorLeftRight = 1;
inline constexpr uint32_t kMirrorUpDown = 2;

// Mirrors the whole surface in place: left-right, top-bottom, or both (a
// half turn). Other bits are ignored; 0 leaves the surface as it is.
void MirrorBlit(Surface& surface, uint32_t mirror);

// The same on a plain BGRX buffer of width x height with `pitch` bytes per
// row (for pictures that are not in a surface).
void MirrorPixels(uint8_t* pixels, int width, int height, int pitch, uint32_t mirror);

}  // namespace lumvara::gfx
