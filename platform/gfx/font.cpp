// Fonts by face name, GDI height and width, resolved through Pango and
// fontconfig.
#include "platform/gfx/font.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <utility>

#include "platform/gfx/font_aliases.h"

namespace lumvara::gfx {

namespace {

// Face used when the caller names none.
constexpr const char kDefaultFace[] = "Sans";
// Size at which a face's proportions are measured.
constexpr int kReferenceEm = 1000;

// Proportions of a face, per pixel of em size.
struct FaceMetrics {
  double cell = 1.0;        // (ascent + descent) / em
  double char_width = 0.5;  // average character width / em
};

FaceMetrics Measure(const std::string& family, int weight) {
  FaceMetrics metrics;
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoContext* context = pango_font_map_create_context(map);
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, family.c_str());
  pango_font_description_set_weight(desc, static_cast<PangoWeight>(weight));
  pango_font_description_set_absolute_size(desc, kReferenceEm * PANGO_SCALE);
  if (PangoFont* font = pango_context_load_font(context, desc)) {
    PangoFontMetrics* m = pango_font_get_metrics(font, nullptr);
    const double ascent = pango_font_metrics_get_ascent(m) / static_cast<double>(PANGO_SCALE);
    const double descent = pango_font_metrics_get_descent(m) / static_cast<double>(PANGO_SCALE);
    const double width = pango_font_metrics_get_approximate_char_width(m) / static_cast<double>(PANGO_SCALE);
    if (ascent + descent > 0) metrics.cell = (ascent + descent) / kReferenceEm;
    if (width > 0) metrics.char_width = width / kReferenceEm;
    pango_font_metrics_unref(m);
    g_object_unref(font);
  }
  pango_font_description_free(desc);
  g_object_unref(context);
  g_object_unref(map);
  return metrics;
}

// Measuring loads a font, so each face and weight is measured once.
FaceMetrics MetricsOf(const std::string& family, int weight) {
  static std::mutex mutex;
  static auto* cache = new std::map<std::pair<std::string, int>, FaceMetrics>;
  std::lock_guard lock(mutex);
  auto key = std::make_pair(family, weight);
  auto it = cache->find(key);
  if (it != cache->end()) return it->second;
  FaceMetrics metrics = Measure(family, weight);
  cache->emplace(key, metrics);
  return metrics;
}

int ClampWeight(int weight) {
  if (weight <= 0) return Font::kNormalWeight;
  return std::min(std::max(weight, 100), 1000);
}

}  // namespace

Font::Font(int height, int width, int weight, std::string face)
    : height_(height), width_(width), weight_(ClampWeight(weight)), face_(std::move(face)) {
  EnsureFontAliases();
  const std::string family = face_.empty() ? kDefaultFace : face_;
  const FaceMetrics metrics = MetricsOf(family, weight_);
  double em = 0;
  if (height_ < 0) {
    em = -static_cast<double>(height_);
  } else {
    const int cell = height_ == 0 ? kDefaultHeight : height_;
    em = cell / metrics.cell;
  }
  em = std::max(em, 1.0);
  if (width_ > 0) x_scale_ = width_ / (metrics.char_width * em);
  description_ = pango_font_description_new();
  pango_font_description_set_family(description_, family.c_str());
  pango_font_description_set_weight(description_, static_cast<PangoWeight>(weight_));
  pango_font_description_set_absolute_size(description_, em * PANGO_SCALE);
}

Font::~Font() { pango_font_description_free(description_); }

std::shared_ptr<const Font> Font::Create(int height, int width, int weight, const std::string& face) {
  return std::shared_ptr<const Font>(new Font(height, width, weight, face));
}

std::shared_ptr<const Font> Font::Default() {
  static const std::shared_ptr<const Font> font = Create(0, 0, kNormalWeight, "");
  return font;
}

}  // namespace lumvara::gfx
