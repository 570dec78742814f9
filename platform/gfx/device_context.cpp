// GDI-style drawing over Cairo and PangoCairo.
#include "platform/gfx/device_context.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <optional>
#include <utility>

#include "platform/gfx/blit_internal.h"
#include "platform/gfx/font_aliases.h"
#include "platform/winsys/window_canvas.h"

namespace lumvara::gfx {

struct DeviceContext::Target {
  Surface* surface = nullptr;
  winsys::HWND window = nullptr;
};

namespace {

void SetColour(cairo_t* cr, COLORREF colour) {
  cairo_set_source_rgb(cr, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, ((colour >> 16) & 0xFF) / 255.0);
}

// One drawing operation's Cairo context, in the context's own coordinates
// and clipped to where it may draw. For a window it holds the framebuffer
// lock until it goes.
class Session {
 public:
  explicit Session(Surface& surface) : cr_(cairo_create(surface.cairo())) {}

  explicit Session(winsys::HWND window) : canvas_(std::in_place, window) {
    if (!*canvas_) return;
    wrapper_ = WrapCanvas(*canvas_);
    cr_ = cairo_create(wrapper_);
    ClipToCanvas(cr_, *canvas_);
    cairo_translate(cr_, canvas_->origin().x, canvas_->origin().y);
  }

  ~Session() {
    if (cr_) cairo_destroy(cr_);
    if (wrapper_) {
      cairo_surface_flush(wrapper_);
      cairo_surface_destroy(wrapper_);
    }
  }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  cairo_t* cr() const { return cr_; }
  bool ok() const { return cr_ && cairo_status(cr_) == CAIRO_STATUS_SUCCESS; }

 private:
  std::optional<winsys::WindowCanvas> canvas_;
  cairo_surface_t* wrapper_ = nullptr;
  cairo_t* cr_ = nullptr;
};

std::unique_ptr<Session> Open(Surface* surface, winsys::HWND window) {
  auto session = surface ? std::make_unique<Session>(*surface) : std::make_unique<Session>(window);
  return session->ok() ? std::move(session) : nullptr;
}

void FillBox(cairo_t* cr, const Rect& r, COLORREF colour) {
  if (r.empty()) return;
  SetColour(cr, colour);
  cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
  cairo_fill(cr);
}

// Text as it can be shown: it ends at the first NUL, as a C string would,
// and byte sequences that are not UTF-8 (a multi-byte character cut off by a
// fixed-size field) become U+FFFD instead of making the layout refuse the
// whole text.
std::string DisplayableText(const std::string& text) {
  const std::string cut = text.substr(0, text.find('\0'));
  if (g_utf8_validate(cut.data(), static_cast<gssize>(cut.size()), nullptr)) return cut;
  gchar* valid = g_utf8_make_valid(cut.data(), static_cast<gssize>(cut.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

// Text as a layout: Pango lays it out (line breaks, fallback fonts for
// characters the face lacks); the caller places it in the box.
PangoLayout* MakeLayout(cairo_t* cr, const Font& font, const std::string& text, const Rect& box, uint32_t format) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
  cairo_font_options_destroy(options);
  pango_layout_context_changed(layout);
  pango_layout_set_font_description(layout, font.description());

  std::string shown = DisplayableText(text);
  if (format & DT_SINGLELINE) {
    for (char& c : shown) {
      if (c == '\n' || c == '\r') c = ' ';
    }
  }
  pango_layout_set_text(layout, shown.c_str(), static_cast<int>(shown.size()));
  if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && box.width() > 0) {
    pango_layout_set_width(layout, static_cast<int>(box.width() / font.x_scale() * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  PangoAlignment align = PANGO_ALIGN_LEFT;
  if (format & DT_CENTER) align = PANGO_ALIGN_CENTER;
  if (format & DT_RIGHT) align = PANGO_ALIGN_RIGHT;
  pango_layout_set_alignment(layout, align);
  return layout;
}

}  // namespace

DeviceContext::DeviceContext(std::unique_ptr<Target> target) : target_(std::move(target)), font_(Font::Default()) {}

DeviceContext::~DeviceContext() = default;

std::unique_ptr<DeviceContext> DeviceContext::ForSurface(Surface& surface) {
  auto target = std::make_unique<Target>();
  target->surface = &surface;
  return std::unique_ptr<DeviceContext>(new DeviceContext(std::move(target)));
}

std::unique_ptr<DeviceContext> DeviceContext::ForWindow(winsys::HWND window) {
  if (!winsys::IsWindow(window)) return nullptr;
  auto target = std::make_unique<Target>();
  target->window = window;
  return std::unique_ptr<DeviceContext>(new DeviceContext(std::move(target)));
}

int DeviceContext::SetBkMode(int mode) { return std::exchange(bk_mode_, mode); }
COLORREF DeviceContext::SetTextColor(COLORREF colour) { return std::exchange(text_colour_, colour); }
COLORREF DeviceContext::SetBkColor(COLORREF colour) { return std::exchange(bk_colour_, colour); }

std::shared_ptr<const Font> DeviceContext::SelectFont(std::shared_ptr<const Font> font) {
  if (!font) font = Font::Default();
  return std::exchange(font_, std::move(font));
}

bool DeviceContext::FillRect(const Rect& rect, COLORREF colour) {
  auto session = Open(target_->surface, target_->window);
  if (!session) return false;
  FillBox(session->cr(), rect, colour);
  return session->ok();
}

bool DeviceContext::FrameRect(const Rect& r, COLORREF colour) {
  if (r.empty()) return true;
  auto session = Open(target_->surface, target_->window);
  if (!session) return false;
  cairo_t* cr = session->cr();
  FillBox(cr, {r.left, r.top, r.right, r.top + 1}, colour);
  FillBox(cr, {r.left, r.bottom - 1, r.right, r.bottom}, colour);
  FillBox(cr, {r.left, r.top, r.left + 1, r.bottom}, colour);
  FillBox(cr, {r.right - 1, r.top, r.right, r.bottom}, colour);
  return session->ok();
}

int DeviceContext::DrawText(const std::string& text, Rect* rect, uint32_t format) {
  if (!rect) return 0;
  EnsureFontAliases();
  auto session = Open(target_->surface, target_->window);
  if (!session) return 0;
  cairo_t* cr = session->cr();
  const Font& font = *font_;
  PangoLayout* layout = MakeLayout(cr, font, text, *rect, format);
  PangoRectangle logical;
  pango_layout_get_pixel_extents(layout, nullptr, &logical);
  const int text_width = static_cast<int>(std::lround(logical.width * font.x_scale()));
  const int text_height = logical.height;

  if (format & DT_CALCRECT) {
    rect->right = rect->left + text_width;
    rect->bottom = rect->top + text_height;
    g_object_unref(layout);
    return text_height;
  }

  int x = rect->left;
  if (format & DT_CENTER) {
    x = rect->left + (rect->width() - text_width) / 2;
  } else if (format & DT_RIGHT) {
    x = rect->right - text_width;
  }
  int y = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) y = rect->top + (rect->height() - text_height) / 2;
    if (format & DT_BOTTOM) y = rect->bottom - text_height;
  }

  cairo_save(cr);
  if (!(format & DT_NOCLIP)) {
    cairo_rectangle(cr, rect->left, rect->top, rect->width(), rect->height());
    cairo_clip(cr);
  }
  if (bk_mode_ == OPAQUE) FillBox(cr, {x, y, x + text_width, y + text_height}, bk_colour_);
  SetColour(cr, text_colour_);
  // The layout keeps the metrics it was made with; only the glyphs are
  // stretched to the requested width.
  cairo_translate(cr, x, y);
  cairo_scale(cr, font.x_scale(), 1.0);
  cairo_move_to(cr, -logical.x, -logical.y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
  if (!session->ok()) return 0;
  return (format & DT_SINGLELINE) ? y - rect->top + text_height : text_height;
}

bool DeviceContext::StretchBlt(const Rect& dst_rect, const Surface& src, const Rect& src_rect) {
  if (src_rect.empty() || dst_rect.empty() || src_rect.left < 0 || src_rect.top < 0 || src_rect.right > src.width() ||
      src_rect.bottom > src.height()) {
    return false;
  }
  auto session = Open(target_->surface, target_->window);
  if (!session) return false;
  PaintStretched(session->cr(), src, src_rect, dst_rect);
  return session->ok();
}

}  // namespace lumvara::gfx
