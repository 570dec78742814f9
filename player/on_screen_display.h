#pragma once
// The on-screen texts: up to 16 entries written onto each picture before it
// is shown. Each is drawn twice, white in its box and then in its own colour
// one pixel right and down, so the white copy shows as a light edge above
// and left of the text. The texts go onto the picture itself, after
// cropping and mirroring are settled, so they are never mirrored and scale
// with the picture.

#include <lumvara/player.h>

#include <array>
#include <cstdint>

#include "platform/gfx/device_context.h"
#include "platform/winsys/rect.h"
#include "player/osd_layout.h"

namespace lumvara {

struct OsdEntries {
  std::array<OsdStringRecord, LUMVARA_OSD_ENTRY_COUNT> records{};
  std::array<bool, LUMVARA_OSD_ENTRY_COUNT> on{};
};

// What one drawing pass needs besides the entries.
struct OsdFrame {
  int64_t time = 0;      // seconds since 1970 of the picture
  int8_t zone = 0;       // hours: the clock shows time - zone * 3600
  int32_t boxWidth = 0;  // the area the fixed boxes are laid out in
  int32_t boxHeight = 0;
  int32_t pictureWidth = 0;      // for the wide-picture font override;
  int32_t destinationWidth = 0;  // a picture width of 0 turns it off
  OsdBoxHeights heights = kPictureOsdBoxes;
};

// Draws every entry that is on, in index order, onto `dc`.
void drawOsdEntries(gfx::DeviceContext& dc, const OsdEntries& entries, const OsdFrame& frame);

// Draws one text: white in `box`, then `colour` in the box moved one pixel
// right and down.
void drawOsdText(gfx::DeviceContext& dc, const std::string& text, const OsdBox& box, gfx::COLORREF colour);

}  // namespace lumvara
