#pragma once
// Fonts chosen the way a GDI program chooses them: a face name, a height and
// an average character width in pixels, a weight.
//
// Height > 0: the cell height (ascent + descent) in pixels. Height < 0: the
// character height (the em size) is -height pixels. Height 0: the default
// size (kDefaultHeight cell height). Width 0 keeps the face's own
// proportions; width > 0 stretches or squeezes the glyphs so that the
// average character is that many pixels wide. A face name that matches no
// installed font falls back to the default face; characters the face lacks
// (Chinese in a Latin face) come from a fallback font. The Chinese Windows
// face names (宋体 / SimSun, 黑体 / SimHei, 微软雅黑 / Microsoft YaHei, and
// their relatives) map to an installed CJK font.
//
// A Font is immutable and may be shared between threads.

#include <memory>
#include <string>

typedef struct _PangoFontDescription PangoFontDescription;

namespace lumvara::gfx {

class Font {
 public:
  static constexpr int kDefaultHeight = 16;
  static constexpr int kNormalWeight = 400;

  // `face` is UTF-8. Never null.
  static std::shared_ptr<const Font> Create(int height, int width, int weight, const std::string& face);
  // The font a device context starts with.
  static std::shared_ptr<const Font> Default();
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  int height() const { return height_; }
  int width() const { return width_; }
  int weight() const { return weight_; }
  const std::string& face() const { return face_; }

  // For the drawing layer: the Pango description at the resolved pixel size
  // and the horizontal scale that realises the requested width (1 when
  // width is 0).
  const PangoFontDescription* description() const { return description_; }
  double x_scale() const { return x_scale_; }

 private:
  Font(int height, int width, int weight, std::string face);
  int height_;
  int width_;
  int weight_;
  std::string face_;
  PangoFontDescription* description_ = nullptr;
  double x_scale_ = 1.0;
};

}  // namespace lumvara::gfx
