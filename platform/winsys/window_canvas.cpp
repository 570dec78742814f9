// Drawing access to top-level framebuffers and reading them back.
#include "platform/winsys/window_canvas.h"

#include <algorithm>
#include <cstring>

#include "platform/winsys/window_tree.h"

namespace lumvara::winsys {

namespace {

// The stamp of the camera frame this thread is drawing, 0 when none.
thread_local double t_frame_input_millis = 0;

}  // namespace

FrameInputStamp::FrameInputStamp(double input_millis) : previous_(t_frame_input_millis) {
  t_frame_input_millis = input_millis;
}

FrameInputStamp::~FrameInputStamp() { t_frame_input_millis = previous_; }

WindowCanvas::WindowCanvas(HWND window) {
  WindowTree& tree = WindowTree::Get();
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return;
    Node* top = WindowTree::TopOf(node);
    if (!top->framebuffer) return;
    framebuffer_ = top->framebuffer;
    screen_origin_ = {top->rect.left, top->rect.top};
    // Walk up to the top-level window, cutting the visible area by each
    // ancestor's client area.
    Rect visible{0, 0, node->rect.width(), node->rect.height()};
    Point offset;
    for (Node* n = node; n != top; n = n->parent) {
      offset.x += n->rect.left;
      offset.y += n->rect.top;
      const Rect parent_client{0, 0, n->parent->rect.width(), n->parent->rect.height()};
      visible = Intersect(visible.offset(n->rect.left, n->rect.top), parent_client);
    }
    origin_ = offset;
    clip_ = WindowTree::Visible(node) ? visible : Rect{};
    if (!clip_.empty()) visible_.push_back(clip_);
    if (node->style & WS_CLIPCHILDREN) {
      for (const Node* child : node->children) {
        if (!(child->style & WS_VISIBLE)) continue;
        const Rect hole = child->rect.offset(origin_.x, origin_.y);
        std::vector<Rect> rest;
        for (const Rect& piece : visible_) {
          for (const Rect& r : Subtract(piece, hole)) rest.push_back(r);
        }
        visible_ = std::move(rest);
      }
    }
  }
  lock_ = std::unique_lock(framebuffer_->mutex);
  pixels_ = framebuffer_->pixels.data();
  pitch_ = framebuffer_->pitch;
  width_ = framebuffer_->width;
  height_ = framebuffer_->height;
  // The framebuffer may have been resized between the two locks.
  const Rect bounds{0, 0, width_, height_};
  clip_ = Intersect(clip_, bounds);
  std::vector<Rect> inside;
  for (const Rect& r : visible_) {
    const Rect cut = Intersect(r, bounds);
    if (!cut.empty()) inside.push_back(cut);
  }
  visible_ = std::move(inside);
}

WindowCanvas::~WindowCanvas() {
  if (!framebuffer_) return;
  framebuffer_->dirty = true;
  ++framebuffer_->changes;
  if (t_frame_input_millis > 0) framebuffer_->frame_input_millis = t_frame_input_millis;
  const bool wake_owner = !framebuffer_->present_anywhere;
  lock_.unlock();
  if (!wake_owner) return;
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  if (auto owner = framebuffer_->owner.lock()) owner->wake.notify_all();
}

bool FillWindowBackground(HWND window) {
  uint32_t rgb = 0;
  {
    WindowTree& tree = WindowTree::Get();
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return false;
    rgb = node->background;
  }
  WindowCanvas canvas(window);
  if (!canvas) return false;
  const uint32_t pixel = rgb & 0xFFFFFF;  // little-endian BGRX: blue in byte 0
  for (const Rect& r : canvas.visible()) {
    for (int y = r.top; y < r.bottom; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(canvas.pixels() + static_cast<size_t>(y) * canvas.pitch());
      std::fill(row + r.left, row + r.right, pixel);
    }
  }
  return true;
}

namespace {

std::shared_ptr<Framebuffer> TopLevelFramebuffer(HWND top_level) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(top_level);
  if (!node || node->parent) return nullptr;
  return node->framebuffer;
}

void CopyPacked(const Framebuffer& fb, std::vector<uint8_t>* out) {
  const size_t row = static_cast<size_t>(fb.width) * 4;
  out->resize(row * static_cast<size_t>(fb.height));
  for (int y = 0; y < fb.height; ++y) {
    std::memcpy(out->data() + row * y, fb.pixels.data() + static_cast<size_t>(y) * fb.pitch, row);
  }
}

}  // namespace

bool ReadWindowPixels(HWND top_level, std::vector<uint8_t>* out, int* width, int* height) {
  std::shared_ptr<Framebuffer> fb = TopLevelFramebuffer(top_level);
  if (!fb || !out) return false;
  std::lock_guard lock(fb->mutex);
  CopyPacked(*fb, out);
  if (width) *width = fb->width;
  if (height) *height = fb->height;
  return true;
}

bool ReadPresentedPixels(HWND top_level, std::vector<uint8_t>* out, int* width, int* height) {
  std::shared_ptr<Framebuffer> fb = TopLevelFramebuffer(top_level);
  if (!fb || !out) return false;
  std::lock_guard lock(fb->mutex);
  if (!fb->presenter) return false;
  // Presenters that may present from any thread show the newest pixels when
  // someone looks; others are brought up to date by their thread's loop.
  if (fb->present_anywhere && fb->dirty) {
    fb->presenter->Present(fb->pixels.data(), fb->pitch, fb->width, fb->height);
    fb->dirty = false;
  }
  return fb->presenter->ReadBack(out, width, height);
}

uint64_t FramebufferChanges(HWND top_level) {
  std::shared_ptr<Framebuffer> fb = TopLevelFramebuffer(top_level);
  if (!fb) return 0;
  std::lock_guard lock(fb->mutex);
  return fb->changes;
}

double FrameInputMillis(HWND top_level) {
  std::shared_ptr<Framebuffer> fb = TopLevelFramebuffer(top_level);
  if (!fb) return 0;
  std::lock_guard lock(fb->mutex);
  return fb->frame_input_millis;
}

bool SetPresenterFullscreen(HWND top_level, bool on) {
  std::shared_ptr<Framebuffer> fb = TopLevelFramebuffer(top_level);
  if (!fb) return false;
  std::lock_guard lock(fb->mutex);
  return fb->presenter && fb->presenter->SetFullscreen(on);
}

const char* PresenterName(HWND top_level) {
  std::shared_ptr<Framebuffer> fb = TopLevelFramebuffer(top_level);
  if (!fb) return nullptr;
  std::lock_guard lock(fb->mutex);
  return fb->presenter ? fb->presenter->name() : nullptr;
}

int ServicePresenters(MessageQueue& queue) {
  struct Work {
    HWND top;
    std::shared_ptr<Framebuffer> fb;
    bool changed;
    Rect rect;
    std::string title;
    bool visible;
    bool topmost;
  };
  std::vector<Work> work;
  {
    WindowTree& tree = WindowTree::Get();
    std::lock_guard lock(tree.mutex);
    for (uint64_t id : queue.windows) {
      Node* node = tree.Find(id);
      if (!node || !node->framebuffer) continue;
      Framebuffer& fb = *node->framebuffer;
      work.push_back({WindowTree::HandleOf(node), node->framebuffer, fb.presenter_changed, fb.presenter_rect,
                      fb.presenter_title, fb.presenter_visible, fb.presenter_topmost});
      fb.presenter_changed = false;
    }
  }
  int wake_ms = -1;
  std::vector<std::unique_ptr<RecordedInput>> inputs;
  for (Work& w : work) {
    Presenter* presenter = nullptr;
    {
      std::lock_guard lock(w.fb->mutex);
      presenter = w.fb->presenter.get();
      if (!presenter) continue;
      if (w.changed) {
        presenter->Move(w.rect);
        presenter->SetTitle(w.title);
        presenter->SetVisible(w.visible);
        presenter->SetTopmost(w.topmost);
      }
      if (w.fb->dirty && !w.fb->present_anywhere) {
        presenter->Present(w.fb->pixels.data(), w.fb->pitch, w.fb->width, w.fb->height);
        w.fb->dirty = false;
      }
    }
    // Events are reported without the framebuffer lock (they post messages).
    // The presenter stays alive: only this thread destroys it.
    std::unique_ptr<RecordedInput> sink = MakeInputSink(w.top);
    int poll = -1;
    presenter->PollEvents(*sink, &poll);
    if (poll >= 0 && (wake_ms < 0 || poll < wake_ms)) wake_ms = poll;
    inputs.push_back(std::move(sink));
  }
  for (auto& input : inputs) input->Flush();
  return wake_ms;
}

}  // namespace lumvara::winsys
