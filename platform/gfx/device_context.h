#pragma once
// Device contexts: GDI-style drawing onto a surface or into a window.
//
// Coordinates are the surface's pixels, or the window's client coordinates.
// A window context draws into the window's top-level framebuffer, clipped to
// the window's visible client area, less its visible children when it has
// WS_CLIPCHILDREN (nothing at all when it is hidden); it looks the
// window up again for every operation, so it follows moves and fails
// quietly (false) once the window is gone. A surface context must not
// outlive its surface.
//
// One thread uses a context at a time. Creating contexts is cheap.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/gfx/font.h"
#include "platform/gfx/surface.h"
#include "platform/winsys/window.h"

typedef struct _cairo cairo_t;

namespace lumvara::gfx {

// A GDI colour: 0x00BBGGRR.
using COLORREF = uint32_t;
constexpr COLORREF RGB(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<COLORREF>(red) | static_cast<COLORREF>(green) << 8 | static_cast<COLORREF>(blue) << 16;
}

// Background modes for text.
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// DrawText format flags. Without DT_VCENTER / DT_BOTTOM the text is top
// aligned; those two apply only with DT_SINGLELINE.
inline constexpr uint32_t DT_LEFT = 0x0000;
inline constexpr uint32_t DT_CENTER = 0x0001;
inline constexpr uint32_t DT_RIGHT = 0x0002;
inline constexpr uint32_t DT_VCENTER = 0x0004;
inline constexpr uint32_t DT_BOTTOM = 0x0008;
inline constexpr uint32_t DT_WORDBREAK = 0x0010;
inline constexpr uint32_t DT_SINGLELINE = 0x0020;
inline constexpr uint32_t DT_NOCLIP = 0x0100;
inline constexpr uint32_t DT_CALCRECT = 0x0400;

class DeviceContext {
 public:
  // Never null.
  static std::unique_ptr<DeviceContext> ForSurface(Surface& surface);
  // Null for a dead window.
  static std::unique_ptr<DeviceContext> ForWindow(winsys::HWND window);
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  // Text state; each returns the previous value. Defaults: OPAQUE, black
  // text on a white background, Font::Default().
  int SetBkMode(int mode);
  COLORREF SetTextColor(COLORREF colour);
  COLORREF SetBkColor(COLORREF colour);
  std::shared_ptr<const Font> SelectFont(std::shared_ptr<const Font> font);

  // Fills the rectangle with a solid colour.
  bool FillRect(const Rect& rect, COLORREF colour);
  // Draws a one-pixel frame along the inside edge of the rectangle.
  bool FrameRect(const Rect& rect, COLORREF colour);

  // Draws UTF-8 text in `*rect` (up to its first NUL; invalid sequences show
  // as U+FFFD): aligned left, right or centred in it, top
  // aligned, lines broken at "\n" (and "\r\n") unless DT_SINGLELINE, at
  // words to fit the width with DT_WORDBREAK. Clipped to the rectangle
  // unless DT_NOCLIP. In OPAQUE mode the text's extent is filled with the
  // background colour first. With DT_CALCRECT nothing is drawn and the
  // rectangle's right and bottom are set to fit the text. Returns the height
  // of the text in pixels, 0 on failure.
  int DrawText(const std::string& text, Rect* rect, uint32_t format);

  // Stretches `src_rect` of a surface onto `dst_rect` of this context
  // (bilinear). A source equal in size to the destination is copied exactly.
  bool StretchBlt(const Rect& dst_rect, const Surface& src, const Rect& src_rect);

 private:
  struct Target;
  explicit DeviceContext(std::unique_ptr<Target> target);
  std::unique_ptr<Target> target_;
  int bk_mode_ = OPAQUE;
  COLORREF text_colour_ = RGB(0, 0, 0);
  COLORREF bk_colour_ = RGB(255, 255, 255);
  std::shared_ptr<const Font> font_;
};

}  // namespace lumvara::gfx
