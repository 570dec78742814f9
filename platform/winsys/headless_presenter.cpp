// The headless presenter: keeps the last shown picture in memory. Tests and
// hosts without a desktop read it back; input comes through Inject*().
#include <cstring>
#include <mutex>

#include "platform/winsys/presenter.h"

namespace lumvara::winsys {

namespace {

class HeadlessPresenter final : public Presenter {
 public:
  const char* name() const override { return "headless"; }
  bool Open(const Rect&, const std::string&, uint32_t) override { return true; }
  void Move(const Rect&) override {}
  void SetTitle(const std::string&) override {}
  void SetVisible(bool) override {}
  void SetTopmost(bool) override {}

  void Present(const uint8_t* pixels, int pitch, int width, int height) override {
    std::lock_guard lock(mutex_);
    const size_t row = static_cast<size_t>(width) * 4;
    shown_.resize(row * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
      std::memcpy(shown_.data() + row * y, pixels + static_cast<size_t>(y) * pitch, row);
    }
    width_ = width;
    height_ = height;
    presented_ = true;
  }

  bool presents_from_any_thread() const override { return true; }

  bool ReadBack(std::vector<uint8_t>* out, int* width, int* height) const override {
    std::lock_guard lock(mutex_);
    if (!presented_) return false;
    *out = shown_;
    if (width) *width = width_;
    if (height) *height = height_;
    return true;
  }

  void PollEvents(InputSink&, int* wake_ms) override { *wake_ms = -1; }

  std::unique_ptr<Presenter> CreateSibling() const override { return std::make_unique<HeadlessPresenter>(); }

 private:
  mutable std::mutex mutex_;
  std::vector<uint8_t> shown_;
  int width_ = 0;
  int height_ = 0;
  bool presented_ = false;
};

}  // namespace

std::unique_ptr<Presenter> CreateHeadlessPresenter() { return std::make_unique<HeadlessPresenter>(); }

}  // namespace lumvara::winsys
