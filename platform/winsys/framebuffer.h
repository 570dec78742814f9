#pragma once
// The framebuffer of one top-level window: its BGRX pixels, the presenter
// that shows them and what the presenter still has to apply. Internal to
// winsys; drawing goes through a WindowCanvas (window_canvas.h).
//
// The framebuffer's own mutex guards its pixels, size and marks; the fields
// marked below are guarded by the tree mutex instead (window_tree.h gives
// the lock order).

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace lumvara::winsys {

class MessageQueue;

// Pixels of one top-level window and the presenter that shows them.
struct Framebuffer {
  std::mutex mutex;
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  int pitch = 0;
  Point screen_origin;
  std::unique_ptr<Presenter> presenter;
  bool present_anywhere = false;
  bool dirty = false;
  uint64_t changes = 0;  // drawing canvases released so far
  // When the camera frame last drawn here reached its player (CLOCK_REALTIME
  // milliseconds; 0 when none has been).
  double frame_input_millis = 0;
  // Guarded by the tree mutex: changes for the presenter that the owning
  // thread's loop applies (presenters run on that thread only).
  bool presenter_changed = false;
  Rect presenter_rect;
  std::string presenter_title;
  bool presenter_visible = true;
  bool presenter_topmost = false;
  // The top-level window's queue, woken to present (guarded by the tree mutex).
  std::weak_ptr<MessageQueue> owner;

  // Resizes, keeping the overlapping pixels; new pixels are black.
  void Resize(int new_width, int new_height);
};

}  // namespace lumvara::winsys
