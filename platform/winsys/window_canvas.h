#pragma once
// Drawing access to a window's pixels, for the drawing layer (gfx): the
// window canvas, reading a top-level window's pixels back, and the mark of
// the camera frame they show.
//
// A top-level window's framebuffer is 32-bit BGRX: bytes 0, 1, 2 of a pixel
// are blue, green, red; byte 3 is unused. Rows are `pitch` bytes apart.
// A WindowCanvas locks the framebuffer of the window's top-level window for
// as long as it lives and tells where the window lies in it. Drawing must
// stay inside the `visible` rectangles (inside `clip`, less the children of
// a window with WS_CLIPCHILDREN). When the canvas is released the framebuffer counts as
// changed and its presenter shows it (at once for the headless presenter, on
// the window's thread for SDL).
//
// Hold a canvas briefly (one drawing operation) and take no other window
// call's lock while holding it: never call into the window tree or take a
// second canvas of the same top-level window in the meantime.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/winsys/window.h"

namespace lumvara::winsys {

struct Framebuffer;

class WindowCanvas {
 public:
  // Locks the framebuffer holding `window`. The canvas is invalid (false)
  // for a dead handle. A hidden window gives a valid canvas with an empty
  // clip, so drawing to it changes nothing.
  explicit WindowCanvas(HWND window);
  ~WindowCanvas();
  WindowCanvas(const WindowCanvas&) = delete;
  WindowCanvas& operator=(const WindowCanvas&) = delete;

  explicit operator bool() const { return framebuffer_ != nullptr; }

  uint8_t* pixels() const { return pixels_; }
  int pitch() const { return pitch_; }
  int width() const { return width_; }  // framebuffer size
  int height() const { return height_; }
  // The window's client (0, 0) in framebuffer coordinates.
  Point origin() const { return origin_; }
  // Framebuffer (0, 0) in screen coordinates.
  Point screen_origin() const { return screen_origin_; }
  // The part of the framebuffer the window may draw on: its client area cut
  // by its ancestors' client areas and the framebuffer; empty when hidden.
  Rect clip() const { return clip_; }
  // The parts of `clip` that drawing may change: all of it, except where a
  // window with WS_CLIPCHILDREN has visible children. Disjoint rectangles,
  // framebuffer coordinates; empty when hidden.
  const std::vector<Rect>& visible() const { return visible_; }

 private:
  std::shared_ptr<Framebuffer> framebuffer_;
  std::unique_lock<std::mutex> lock_;
  uint8_t* pixels_ = nullptr;
  int pitch_ = 0;
  int width_ = 0;
  int height_ = 0;
  Point origin_;
  Point screen_origin_;
  Rect clip_;
  std::vector<Rect> visible_;
};

// Copies the top-level window's framebuffer into `out` as tightly packed BGRX
// rows (width x 4 bytes each); sets the size. False for a dead handle or a
// window that is not top-level.
bool ReadWindowPixels(HWND top_level, std::vector<uint8_t>* out, int* width, int* height);

// How many drawing canvases of the top-level window have been released; 0
// for a dead handle or a child window. Any thread.
uint64_t FramebufferChanges(HWND top_level);

// While one lives, the canvases the calling thread releases mark their
// framebuffer as showing a camera frame that reached its player at
// `input_millis` (CLOCK_REALTIME milliseconds), under the framebuffer lock
// the canvas holds anyway, so the mark and the pixels always change
// together. A player wraps the drawing of a picture in one; other drawing
// (backgrounds, texts alone) leaves the mark as it was. 0 marks nothing.
class FrameInputStamp {
 public:
  explicit FrameInputStamp(double input_millis);
  ~FrameInputStamp();
  FrameInputStamp(const FrameInputStamp&) = delete;
  FrameInputStamp& operator=(const FrameInputStamp&) = delete;

 private:
  double previous_;
};

// The mark of the camera frame last drawn into the top-level window's
// framebuffer; 0 when none was, for a dead handle or a child window. Any
// thread.
double FrameInputMillis(HWND top_level);

}  // namespace lumvara::winsys
