#include "player/on_screen_display.h"

#include <memory>
#include <string>

#include "platform/gfx/font.h"

namespace lumvara {

namespace {

constexpr gfx::COLORREF kEdgeColour = gfx::RGB(255, 255, 255);

uint32_t alignmentFlag(OsdAlign align) {
  switch (align) {
    case OsdAlign::Right:
      return gfx::DT_RIGHT;
    case OsdAlign::Centre:
      return gfx::DT_CENTER;
    case OsdAlign::Left:
      break;
  }
  return gfx::DT_LEFT;
}

}  // namespace

void drawOsdText(gfx::DeviceContext& dc, const std::string& text, const OsdBox& box, gfx::COLORREF colour) {
  const uint32_t format = alignmentFlag(box.align);
  winsys::Rect edge = box.box;
  dc.SetTextColor(kEdgeColour);
  dc.DrawText(text, &edge, format);
  winsys::Rect coloured = box.box.offset(1, 1);
  dc.SetTextColor(colour);
  dc.DrawText(text, &coloured, format);
}

void drawOsdEntries(gfx::DeviceContext& dc, const OsdEntries& entries, const OsdFrame& frame) {
  for (size_t i = 0; i < entries.records.size(); ++i) {
    if (!entries.on[i]) {
      continue;
    }
    const OsdStringRecord& entry = entries.records[i];
    dc.SetBkMode(gfx::TRANSPARENT);
    const OsdFontSize size = osdFontSize(entry, frame.pictureWidth, frame.destinationWidth);
    auto font = gfx::Font::Create(size.height, size.width, gfx::Font::kNormalWeight,
                                  osdFieldText(entry.faceName, sizeof entry.faceName));
    auto previous = dc.SelectFont(std::move(font));
    const std::string text = osdEntryText(entry, frame.time, frame.zone);
    drawOsdText(dc, text, osdBox(entry, frame.boxWidth, frame.boxHeight, frame.heights),
                gfx::RGB(entry.red, entry.green, entry.blue));
    dc.SelectFont(std::move(previous));
  }
}

}  // namespace lumvara
