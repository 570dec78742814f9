#include "player/colour_tables.h"

namespace lumvara {

namespace {

ColourTables buildColourTables() {
  ColourTables t{};
  for (int i = 0; i < 256; ++i) {
    t.L[i] = ColourTables::kLumaScale * (i - 16);
    t.A0[i] = ColourTables::kRedFromCr * (i - 128);
    t.A1[i] = ColourTables::kGreenFromCr * (i - 128);
    t.B2[i] = ColourTables::kBlueFromCb * (i - 128);
    t.B1[i] = ColourTables::kGreenFromCb * (i - 128);
  }
  for (int i = ColourTables::kClipLow; i <= ColourTables::kClipHigh; ++i) {
    t.clipStorage[i - ColourTables::kClipLow] = static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
  }
  return t;
}

}  // namespace

const ColourTables& colourTables() {
  static const ColourTables tables = buildColourTables();
  return tables;
}

}  // namespace lumvara
