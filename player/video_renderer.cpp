#include "player/video_renderer.h"

#include "platform/gfx/blit.h"
#include "platform/gfx/device_context.h"
#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "player/bmp_image.h"
#include "player/i420_converter.h"

namespace lumvara {

namespace {

uint32_t mirrorFlags(int32_t effect) {
  if (effect < LUMVARA_EFFECT_MIRROR_LEFT_RIGHT || effect > LUMVARA_EFFECT_HALF_TURN) {
    return 0;
  }
  return static_cast<uint32_t>(effect);  // 1 left-right, 2 up-down, 3 both
}

bool validOsdIndex(int32_t index) { return index >= 0 && index < LUMVARA_OSD_ENTRY_COUNT; }

}  // namespace

VideoRenderer::VideoRenderer() = default;

VideoRenderer::~VideoRenderer() {
  std::lock_guard<std::mutex> guard(pictureLock_);
  release();
}

void VideoRenderer::setFrameTime(int64_t time, int8_t zone, double inputMillis) {
  frameTime_ = time;
  zone_ = zone;
  frameInputMillis_ = inputMillis;
}

void VideoRenderer::release() {
  surface_.reset();
  window_ = nullptr;
  windowRect_ = {};
  destinationRect_ = {};
  width_.store(0);
  height_.store(0);
  ++counters_.releases;
}

bool VideoRenderer::prepareWindow(winsys::HWND window, int32_t width, int32_t height) {
  winsys::Rect rect;
  if (!winsys::IsWindowVisible(window) || !winsys::GetWindowRect(window, &rect) || rect.empty()) {
    return false;
  }
  const bool windowChanged = window != window_;
  window_ = window;

  const bool rectChanged = rect != windowRect_;
  if (rectChanged) {
    windowRect_ = rect;
    // Uncovered bars or margins must be repainted by the window.
    if (keepProportion_.load() || viewAreaOn_.load()) {
      winsys::InvalidateRect(window, nullptr, true);
    }
  }

  const bool sizeChanged = width != 0 && (width != width_.load() || height != height_.load());
  if (sizeChanged) {
    width_.store(width);
    height_.store(height);
    if (keepProportion_.load()) {
      eraseRequest_.store(true);
    }
  }

  if (rectChanged) {
    // A new place on the screen: everything drawn so far belongs to the
    // old one.
    surface_.reset();
    destinationRect_ = rect;
    ++counters_.displaySetups;
  }
  if (rectChanged || windowChanged) {
    ++counters_.clipSetups;
  }
  if (!rectChanged && !sizeChanged && surface_ != nullptr) {
    return true;
  }
  surface_ = gfx::Surface::Create(width_.load(), height_.load());
  if (surface_ == nullptr) {
    release();
    return false;
  }
  ++counters_.surfaceBuilds;
  return true;
}

bool VideoRenderer::loadPicture(const uint8_t* picture, int32_t width, int32_t height, winsys::HWND window) {
  if (picture == nullptr || width <= 0 || height <= 0) {
    return false;
  }
  if (!prepareWindow(window, width, height)) {
    return false;
  }
  int pitch = 0;
  uint8_t* pixels = surface_->Lock(&pitch);
  convertI420ToBgrx(packedI420(picture, width, height), pixels, pitch);
  surface_->Unlock();
  return true;
}

bool VideoRenderer::serveCapture(const gfx::Surface& surface) {
  const auto width = static_cast<uint32_t>(surface.width());
  const auto height = static_cast<uint32_t>(surface.height());
  if (capture_.buffer == nullptr) {
    // A file that cannot be created leaves the request pending: the next
    // presentation tries again until the requester gives up.
    return writeBmpFile(capture_.path.c_str(), surface.bits(), surface.pitch(), width, height);
  }
  if (surface.width() != capture_.bufferWidth || surface.height() != capture_.bufferHeight) {
    return false;
  }
  writeBmpToBuffer(capture_.buffer, surface.bits(), surface.pitch(), width, height);
  return true;
}

void VideoRenderer::drawTexts(gfx::Surface& surface, const winsys::Rect& source, const winsys::Rect& destination) {
  bool any = false;
  for (bool on : entries_.on) {
    any = any || on;
  }
  if (!any) {
    return;
  }
  auto dc = gfx::DeviceContext::ForSurface(surface);
  OsdFrame frame;
  frame.time = frameTime_;
  frame.zone = zone_;
  frame.boxWidth = source.width();
  frame.boxHeight = source.height();
  frame.pictureWidth = surface.width();
  frame.destinationWidth = destination.width();
  drawOsdEntries(*dc, entries_, frame);
}

void VideoRenderer::presentPicture() {
  if (surface_ == nullptr || window_ == nullptr) {
    return;
  }
  if (eraseRequest_.exchange(false)) {
    winsys::InvalidateRect(window_, nullptr, true);
  }
  // The snapshot is the whole converted picture: before crop, mirror and
  // texts.
  if (capture_.pending && serveCapture(*surface_)) {
    capture_.pending = false;
    capture_.served = true;
    captureDone_.notify_all();
  }

  ViewMargins margins;
  if (viewAreaOn_.load()) {
    margins = {marginLeft_.load(), marginTop_.load(), marginRight_.load(), marginBottom_.load()};
  }
  const winsys::Rect source = croppedSource(surface_->width(), surface_->height(), margins);
  winsys::Rect destination = destinationRect_;
  if (keepProportion_.load()) {
    destination = fitKeepingProportion(destination, source.width(), source.height());
  }
  if (const uint32_t mirror = mirrorFlags(renderEffect_.load()); mirror != 0) {
    gfx::MirrorBlit(*surface_, mirror);
  }
  drawTexts(*surface_, source, destination);
  const winsys::FrameInputStamp stamp(frameInputMillis_);
  if (!gfx::StretchBlitToScreen(*surface_, source, destination, window_)) {
    release();
  }
}

void VideoRenderer::adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom) {
  marginLeft_.store(left);
  marginTop_.store(top);
  marginRight_.store(right);
  marginBottom_.store(bottom);
  viewAreaOn_.store(true);
  eraseRequest_.store(true);
}

void VideoRenderer::setRenderEffect(int32_t effect) { renderEffect_.store(effect); }

void VideoRenderer::renderActualProportion(int32_t flag) {
  keepProportion_.store(flag != 0);
  eraseRequest_.store(true);
}

int VideoRenderer::setOsdString(int32_t index, const OsdStringRecord& record) {
  if (!validOsdIndex(index)) {
    return 0;
  }
  std::lock_guard<std::mutex> guard(pictureLock_);
  entries_.records[static_cast<size_t>(index)] = record;
  entries_.on[static_cast<size_t>(index)] = true;
  return 1;
}

int VideoRenderer::removeOsdstring(int32_t index) {
  if (!validOsdIndex(index)) {
    return 0;
  }
  std::lock_guard<std::mutex> guard(pictureLock_);
  entries_.on[static_cast<size_t>(index)] = false;
  return 1;
}

CaptureResult VideoRenderer::capture(const char* path, uint8_t* buffer, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(pictureLock_);
  if (capture_.pending || (path == nullptr && buffer == nullptr)) {
    return CaptureResult::Refused;
  }
  capture_.pending = true;
  capture_.served = false;
  capture_.path = path != nullptr ? path : "";
  capture_.buffer = path != nullptr ? nullptr : buffer;
  capture_.bufferWidth = width_.load();
  capture_.bufferHeight = height_.load();
  const bool served = captureDone_.wait_for(lock, wait, [this] { return capture_.served; });
  // Served or not, the request ends here, under the lock: a presentation
  // after this point finds nothing to serve.
  capture_ = CaptureRequest{};
  return served ? CaptureResult::Written : CaptureResult::TimedOut;
}

RendererCounters VideoRenderer::counters() {
  std::lock_guard<std::mutex> guard(pictureLock_);
  return counters_;
}

}  // namespace lumvara
