#include "player/picture_fixtures.h"

#include "platform/winsys/window_canvas.h"
#include "platform/winsys/presenter.h"

namespace lumvara::test {

namespace {

struct Yuv {
  uint8_t y, cb, cr;
};

Yuv yuvOf(Colour colour) {
  switch (colour) {
    case Colour::Red:
      return {82, 90, 240};
    case Colour::Green:
      return {145, 54, 34};
    case Colour::Blue:
      return {41, 240, 110};
    case Colour::White:
      return {235, 128, 128};
    default:
      return {16, 128, 128};
  }
}

}  // namespace

Colour quadrantColour(int x, int y, int width, int height) {
  const bool left = x < width / 2;
  const bool top = y < height / 2;
  if (top) {
    return left ? Colour::Red : Colour::Green;
  }
  return left ? Colour::Blue : Colour::White;
}

std::vector<uint8_t> quadrantPicture(int width, int height) {
  const int cw = width / 2;
  const int ch = height / 2;
  std::vector<uint8_t> picture(static_cast<size_t>(width) * height + 2 * static_cast<size_t>(cw) * ch);
  uint8_t* luma = picture.data();
  uint8_t* cb = luma + static_cast<size_t>(width) * height;
  uint8_t* cr = cb + static_cast<size_t>(cw) * ch;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      luma[y * width + x] = yuvOf(quadrantColour(x, y, width, height)).y;
    }
  }
  for (int y = 0; y < ch; ++y) {
    for (int x = 0; x < cw; ++x) {
      const Yuv v = yuvOf(quadrantColour(x * 2, y * 2, width, height));
      cb[y * cw + x] = v.cb;
      cr[y * cw + x] = v.cr;
    }
  }
  return picture;
}

Colour classify(const uint8_t* bgrx) {
  const int b = bgrx[0];
  const int g = bgrx[1];
  const int r = bgrx[2];
  auto high = [](int v) { return v > 200; };
  auto low = [](int v) { return v < 56; };
  if (high(r) && low(g) && low(b)) return Colour::Red;
  if (low(r) && high(g) && low(b)) return Colour::Green;
  if (low(r) && low(g) && high(b)) return Colour::Blue;
  if (high(r) && high(g) && high(b)) return Colour::White;
  if (low(r) && low(g) && low(b)) return Colour::Black;
  return Colour::Other;
}

HeadlessWindow::HeadlessWindow(int x, int y, int width, int height) {
  winsys::WindowDesc desc;
  desc.style = winsys::WS_VISIBLE | winsys::WS_POPUP;
  desc.rect = {x, y, x + width, y + height};
  handle_ = winsys::CreateWindow(desc, winsys::CreateHeadlessPresenter());
}

HeadlessWindow::~HeadlessWindow() {
  if (handle_ != nullptr) {
    winsys::DestroyWindow(handle_);
  }
}

std::vector<uint8_t> HeadlessWindow::pixels(int* width, int* height) const {
  std::vector<uint8_t> out;
  int w = 0;
  int h = 0;
  winsys::ReadWindowPixels(handle_, &out, &w, &h);
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return out;
}

Colour HeadlessWindow::colourAt(int x, int y) const {
  int w = 0;
  int h = 0;
  const auto out = pixels(&w, &h);
  if (x < 0 || y < 0 || x >= w || y >= h) {
    return Colour::Other;
  }
  return classify(&out[(static_cast<size_t>(y) * w + x) * 4]);
}

}  // namespace lumvara::test
