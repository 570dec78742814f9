#pragma once
// Where a picture is taken from and where it goes: the source rectangle cut
// by the view margins, and the destination fitted to the window with the
// picture's proportions kept.

#include <cstdint>

#include "platform/winsys/rect.h"

namespace lumvara {

// Pixels cut from each side of the picture.
struct ViewMargins {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// The picture's rectangle (0, 0, width, height) with the margins applied in
// the order left, right, top, bottom; each only when it is greater than 0 and
// less than what remains of that dimension, so at least one pixel is left.
winsys::Rect croppedSource(int32_t width, int32_t height, const ViewMargins& margins);

// The part of `destination` a picture of sourceWidth x sourceHeight fills
// when its proportions are kept: the full width with equal bars above and
// below when the picture is relatively wider than the destination, otherwise
// the full height with equal bars left and right. Integer arithmetic that
// truncates toward zero; products are taken in 64 bits so that no size
// overflows. Sizes of 0 leave the destination as it is.
winsys::Rect fitKeepingProportion(const winsys::Rect& destination, int32_t sourceWidth, int32_t sourceHeight);

}  // namespace lumvara
