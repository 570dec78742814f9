#include "player/view_geometry.h"

namespace lumvara {

winsys::Rect croppedSource(int32_t width, int32_t height, const ViewMargins& margins) {
  winsys::Rect source{0, 0, width, height};
  int32_t remainingWidth = width;
  int32_t remainingHeight = height;
  if (margins.left > 0 && margins.left < remainingWidth) {
    source.left += margins.left;
    remainingWidth -= margins.left;
  }
  if (margins.right > 0 && margins.right < remainingWidth) {
    source.right -= margins.right;
    remainingWidth -= margins.right;
  }
  if (margins.top > 0 && margins.top < remainingHeight) {
    source.top += margins.top;
    remainingHeight -= margins.top;
  }
  if (margins.bottom > 0 && margins.bottom < remainingHeight) {
    source.bottom -= margins.bottom;
    remainingHeight -= margins.bottom;
  }
  return source;
}

winsys::Rect fitKeepingProportion(const winsys::Rect& destination, int32_t sourceWidth, int32_t sourceHeight) {
  if (sourceWidth <= 0 || sourceHeight <= 0) {
    return destination;
  }
  winsys::Rect fitted = destination;
  const int64_t w = destination.width();
  const int64_t h = destination.height();
  if (h * sourceWidth > w * sourceHeight) {
    const int64_t shown = w * sourceHeight / sourceWidth;
    const auto bar = static_cast<int32_t>((h - shown) / 2);
    fitted.top += bar;
    fitted.bottom -= bar;
  } else {
    const int64_t shown = h * sourceWidth / sourceHeight;
    const auto bar = static_cast<int32_t>((w - shown) / 2);
    fitted.left += bar;
    fitted.right -= bar;
  }
  return fitted;
}

}  // namespace lumvara
