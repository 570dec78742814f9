#pragma once
// Pictures and windows for renderer tests: a packed I420 picture with four
// coloured quadrants, a headless top-level window, and colour checks on
// pixels read back from it.

#include <cstdint>
#include <vector>

#include "platform/winsys/window.h"

namespace lumvara::test {

enum class Colour { Red, Green, Blue, White, Black, Other };

// Quadrants: top-left red, top-right green, bottom-left blue, bottom-right
// white (BT.601 studio-range values).
std::vector<uint8_t> quadrantPicture(int width, int height);

// The quadrant colour expected at (x, y) of such a picture.
Colour quadrantColour(int x, int y, int width, int height);

// Names the colour of a BGRX pixel when it is clearly one of the above.
Colour classify(const uint8_t* bgrx);

// A visible headless top-level window at a screen rectangle, destroyed with
// the object.
class HeadlessWindow {
 public:
  HeadlessWindow(int x, int y, int width, int height);
  ~HeadlessWindow();
  HeadlessWindow(const HeadlessWindow&) = delete;
  HeadlessWindow& operator=(const HeadlessWindow&) = delete;
  winsys::HWND handle() const { return handle_; }

  // The window's pixels, tightly packed BGRX.
  std::vector<uint8_t> pixels(int* width = nullptr, int* height = nullptr) const;
  // Colour of the pixel at client (x, y).
  Colour colourAt(int x, int y) const;

 private:
  winsys::HWND handle_ = nullptr;
};

}  // namespace lumvara::test
