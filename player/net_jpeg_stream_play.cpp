#include "player/net_jpeg_stream_play.h"

#include <lumvara/device.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/gfx/blit.h"
#include "platform/gfx/device_context.h"
#include "platform/gfx/surface.h"
#include "platform/jpeg/jpeg_decoder.h"
#include "platform/sync/thread_priority.h"
#include "platform/winsys/window_canvas.h"
#include "player/drawing_token.h"

namespace lumvara {

namespace {

constexpr uint32_t kHeaderSize = LUMVARA_FRAME_HEADER_SIZE;
constexpr uint32_t kAdpcmPcmBytes = kCameraAdpcmFrameSamples * 2;

uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The header fields a player reads, taken from the bytes (little-endian).
struct FrameView {
  uint8_t kind = 0;
  uint32_t time = 0;
  uint32_t length = 0;
  int8_t zone = 0;
  const uint8_t* payload = nullptr;
};

// False for a frame whose header announces more payload than was handed
// over, or more than a frame may carry: copying or recording it would read
// past the caller's bytes.
bool readFrame(const uint8_t* frame, uint32_t length, FrameView* view) {
  if (frame == nullptr || length < kHeaderSize) {
    return false;
  }
  view->kind = frame[offsetof(StreamFrameHeader, kind)];
  view->time = readLe32(frame + offsetof(StreamFrameHeader, time));
  view->length = readLe32(frame + offsetof(StreamFrameHeader, length));
  view->zone = static_cast<int8_t>(frame[offsetof(StreamFrameHeader, zone)]);
  view->payload = frame + kHeaderSize;
  return view->length <= LUMVARA_FRAME_MAX_PAYLOAD && view->length <= length - kHeaderSize;
}

uint32_t mirrorFor(int32_t effect) {
  switch (effect) {
    case LUMVARA_EFFECT_MIRROR_LEFT_RIGHT:
      return gfx::kMirrorLeftRight;
    case LUMVARA_EFFECT_MIRROR_UP_DOWN:
      return gfx::kMirrorUpDown;
    case LUMVARA_EFFECT_HALF_TURN:
      return gfx::kMirrorLeftRight | gfx::kMirrorUpDown;
    default:
      return 0;
  }
}

bool validOsdIndex(int32_t index) { return index >= 0 && index < LUMVARA_OSD_ENTRY_COUNT; }

// Keeps `surface` at width x height, making a new one only when the size
// changes. False when no surface of that size can be made.
bool fitSurface(std::unique_ptr<gfx::Surface>& surface, int width, int height) {
  if (surface != nullptr && surface->width() == width && surface->height() == height) {
    return true;
  }
  surface = gfx::Surface::Create(width, height);
  return surface != nullptr;
}

}  // namespace

CNetJpegStreamPlay::CNetJpegStreamPlay() : CNetJpegStreamPlay(JpegPlayerOptions{}) {}

CNetJpegStreamPlay::CNetJpegStreamPlay(JpegPlayerOptions options)
    : options_(std::move(options)), recorder_(options_.recorder) {}

CNetJpegStreamPlay::~CNetJpegStreamPlay() { stopPlay(); }

int CNetJpegStreamPlay::startPlay() {
  std::lock_guard<std::mutex> guard(playLock_);
  if (playing_.load()) {
    return 1;
  }
  playing_.store(true);
  {
    std::lock_guard<std::mutex> queueGuard(queueLock_);
    lastFrame_.reset();
  }
  pictureWidth_.store(0);
  pictureHeight_.store(0);
  tickEvent_.reset();
  if (options_.tickMs > 0) {
    timer_.start(options_.tickMs, [this] {
      if (playing_.load()) {
        tickEvent_.set();
      }
    });
  }
  renderThread_ = std::thread(&CNetJpegStreamPlay::renderLoop, this);
  return 1;
}

int CNetJpegStreamPlay::stopPlay() {
  std::lock_guard<std::mutex> guard(playLock_);
  if (!playing_.load()) {
    return 1;
  }
  stoplocalrecord();
  closeSound();
  timer_.stop();
  playing_.store(false);
  tickEvent_.set();
  renderThread_.join();
  std::lock_guard<std::mutex> queueGuard(queueLock_);
  queue_.clear();
  lastFrame_.reset();
  return 1;
}

int CNetJpegStreamPlay::setPlayWnd(winsys::HWND window) {
  window_.store(window);
  return 1;
}

winsys::HWND CNetJpegStreamPlay::getPlayWnd() { return window_.load(); }

void CNetJpegStreamPlay::tick() { tickEvent_.set(); }

int CNetJpegStreamPlay::inputNetFrame(const uint8_t* frame, uint32_t length) {
  const double inputMillis = FrameInputClockMillis();
  FrameView view;
  if (!readFrame(frame, length, &view)) {
    return 0;
  }
  if (recording_.load()) {
    recordFrame(view.kind, view.payload, view.length);
  }
  if (!playing_.load()) {
    return 0;
  }
  if (view.kind == LUMVARA_FRAME_KIND_ADPCM) {
    std::lock_guard<std::mutex> guard(queueLock_);
    if (view.length == static_cast<uint32_t>(kCameraAdpcmFrameBytes) && soundOn_.load()) {
      int16_t pcm[kCameraAdpcmFrameSamples];
      AdpcmDecodeBlock(&adpcm_, view.payload, kCameraAdpcmFrameBytes, pcm);
      waveOut_.QueueData(static_cast<int>(kAdpcmPcmBytes), reinterpret_cast<const uint8_t*>(pcm));
    }
    return 1;
  }
  // Copied before the lock is taken: the receive thread never makes the
  // render thread wait for a half-megabyte copy.
  auto copy = std::make_shared<Frame>();
  copy->kind = view.kind;
  copy->time = view.time;
  copy->zone = view.zone;
  copy->inputMillis = inputMillis;
  copy->payload.assign(view.payload, view.payload + view.length);
  std::lock_guard<std::mutex> guard(queueLock_);
  if (queue_.size() >= kMaxQueuedFrames) {
    // Behind by more than a third of a second: start again from the
    // newest picture.
    queue_.clear();
  }
  queue_.push_back(std::move(copy));
  return 1;
}

CNetJpegStreamPlay::FramePtr CNetJpegStreamPlay::dequeuePicture() {
  std::lock_guard<std::mutex> guard(queueLock_);
  while (!queue_.empty()) {
    FramePtr frame = std::move(queue_.front());
    queue_.pop_front();
    if (frame->kind == LUMVARA_FRAME_KIND_JPEG) {
      lastFrame_ = frame;
      return frame;
    }
  }
  return nullptr;
}

void CNetJpegStreamPlay::renderLoop() {
  // Pictures are due on the tick; where the system allows it, the render
  // thread runs ahead of ordinary work.
  setCurrentThreadPriority(ThreadPriority::TimeCritical);
  JpegDecoder decoder;
  BgrxImage image;
  DrawBuffers buffers;
  while (playing_.load()) {
    tickEvent_.waitForever();
    if (!playing_.load()) {
      break;
    }
    FramePtr frame = dequeuePicture();
    if (frame != nullptr) {
      pictures_.fetch_add(1);
      serveCapture(*frame);
      if (!showPicture(*frame, decoder, image, buffers, true)) {
        // The window is gone: nothing more can be shown until the
        // player is started again.
        ticks_.fetch_add(1);
        return;
      }
    }
    ticks_.fetch_add(1);
  }
}

void CNetJpegStreamPlay::serveCapture(const Frame& frame) {
  std::lock_guard<std::mutex> guard(captureLock_);
  if (!capturePending_ || captureServed_) {
    return;
  }
  bool written = false;
  if (FILE* file = std::fopen(capturePath_.c_str(), "wb")) {
    written = std::fwrite(frame.payload.data(), 1, frame.payload.size(), file) == frame.payload.size();
    written = std::fclose(file) == 0 && written;
  }
  captureServed_ = true;
  captureWritten_ = written;
  captureDone_.notify_all();
}

bool CNetJpegStreamPlay::showPicture(const Frame& frame, JpegDecoder& decoder, BgrxImage& image, DrawBuffers& buffers,
                                     bool fromRenderThread) {
  if (!decoder.decode(frame.payload.data(), frame.payload.size(), image)) {
    return true;  // an unreadable picture shows nothing; the next one may
  }
  const auto width = static_cast<int32_t>(image.width);
  const auto height = static_cast<int32_t>(image.height);
  if (fromRenderThread) {
    // The size the recorder is given. Only pictures taken from the queue
    // count: a refresh decoding the newest picture before the render
    // thread has would hide its size change from the recorder.
    const bool widthChanged = width != pictureWidth_.load();
    pictureWidth_.store(width);
    pictureHeight_.store(height);
    if (widthChanged && recording_.load()) {
      // A new picture size needs a new file.
      std::lock_guard<std::mutex> guard(recordLock_);
      if (recording_.load()) {
        restartRecordingLocked();
      }
    }
  }
  if (const uint32_t mirror = mirrorFor(renderEffect_.load())) {
    gfx::MirrorPixels(image.pixels.data(), width, height, width * 4, mirror);
  }
  return drawPicture(image, frame, buffers);
}

bool CNetJpegStreamPlay::drawPicture(const BgrxImage& image, const Frame& frame, DrawBuffers& buffers) {
  const winsys::HWND window = window_.load();
  if (window == nullptr || !drawingStarted()) {
    return true;
  }
  auto windowDc = gfx::DeviceContext::ForWindow(window);
  winsys::Rect client;
  if (windowDc == nullptr || !winsys::GetClientRect(window, &client)) {
    return false;
  }
  if (client.empty()) {
    return true;
  }
  const auto width = static_cast<int>(image.width);
  const auto height = static_cast<int>(image.height);
  if (!fitSurface(buffers.picture, width, height) || !fitSurface(buffers.offscreen, client.width(), client.height())) {
    return true;
  }
  int pitch = 0;
  uint8_t* pixels = buffers.picture->Lock(&pitch);
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    std::memcpy(pixels + static_cast<size_t>(y) * pitch, image.pixels.data() + y * rowBytes, rowBytes);
  }
  buffers.picture->Unlock();

  OsdEntries entries;
  {
    std::lock_guard<std::mutex> guard(osdLock_);
    entries = entries_;
  }
  {
    // Picture and texts are composed off screen, so the window never
    // shows a picture without its texts.
    auto offscreen = gfx::DeviceContext::ForSurface(*buffers.offscreen);
    offscreen->StretchBlt(client, *buffers.picture, winsys::Rect{0, 0, width, height});
    offscreen->SetBkMode(gfx::TRANSPARENT);
    OsdFrame osd;
    osd.time = frame.time;
    osd.zone = frame.zone;
    osd.boxWidth = client.width();
    osd.boxHeight = client.height();
    osd.pictureWidth = 0;  // the entry's own font, whatever the picture size
    osd.destinationWidth = client.width();
    osd.heights = kWindowOsdBoxes;
    drawOsdEntries(*offscreen, entries, osd);
  }
  {
    const winsys::FrameInputStamp stamp(frame.inputMillis);
    windowDc->StretchBlt(client, *buffers.offscreen, client);
  }
  drawn_.fetch_add(1);
  return true;
}

int CNetJpegStreamPlay::refreshLastPicture() {
  FramePtr frame;
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    frame = lastFrame_;
  }
  if (frame == nullptr || window_.load() == nullptr) {
    return 0;
  }
  // The window thread's own decoder and surfaces: the render thread may
  // be drawing the next picture at the same time. A time-stamp entry
  // shows the last picture's time again.
  JpegDecoder decoder;
  BgrxImage image;
  DrawBuffers buffers;
  return showPicture(*frame, decoder, image, buffers, false) ? 1 : 0;
}

int CNetJpegStreamPlay::openSound() {
  std::lock_guard<std::mutex> guard(soundLock_);
  if (soundOn_.load()) {
    return 1;
  }
  if (waveOut_.Open() == 0) {
    return 0;
  }
  {
    std::lock_guard<std::mutex> queueGuard(queueLock_);
    adpcm_.decPredictor = 0;
    adpcm_.decStepIndex = 0;
    soundOn_.store(true);
  }
  std::lock_guard<std::mutex> recordGuard(recordLock_);
  if (recording_.load()) {
    restartRecordingLocked();
  }
  return 1;
}

int CNetJpegStreamPlay::closeSound() {
  std::lock_guard<std::mutex> guard(soundLock_);
  if (!soundOn_.load()) {
    return 1;
  }
  {
    // Under the queue lock, so no sound is queued after the output closed.
    std::lock_guard<std::mutex> queueGuard(queueLock_);
    soundOn_.store(false);
  }
  waveOut_.Close();
  std::lock_guard<std::mutex> recordGuard(recordLock_);
  if (recording_.load()) {
    restartRecordingLocked();
  }
  return 1;
}

int CNetJpegStreamPlay::setOsdString(int32_t index, const OsdStringRecord* record) {
  if (!validOsdIndex(index) || record == nullptr) {
    return 0;
  }
  std::lock_guard<std::mutex> guard(osdLock_);
  entries_.records[static_cast<size_t>(index)] = *record;
  entries_.on[static_cast<size_t>(index)] = true;
  return 1;
}

int CNetJpegStreamPlay::removeOsdstring(int32_t index) {
  if (!validOsdIndex(index)) {
    return 0;
  }
  std::lock_guard<std::mutex> guard(osdLock_);
  entries_.on[static_cast<size_t>(index)] = false;
  entries_.records[static_cast<size_t>(index)] = OsdStringRecord{};
  return 1;
}

int CNetJpegStreamPlay::capturePicture(const char* path) {
  if (path == nullptr) {
    return 0;
  }
  std::unique_lock<std::mutex> lock(captureLock_);
  if (capturePending_) {
    return 0;
  }
  capturePending_ = true;
  captureServed_ = false;
  captureWritten_ = false;
  capturePath_ = path;
  captureDone_.wait_for(lock, std::chrono::milliseconds(options_.captureWaitMs), [this] { return captureServed_; });
  // Withdrawn under the lock: a request that timed out is never served
  // afterwards.
  capturePending_ = false;
  capturePath_.clear();
  return captureServed_ && captureWritten_ ? 1 : 0;
}

int CNetJpegStreamPlay::setRenderEffect(int32_t effect) {
  renderEffect_.store(effect);
  return 1;
}

void CNetJpegStreamPlay::restartRecordingLocked() {
  recorder_.Stop();
  recorder_.Start(request_, pictureHeight_.load(), pictureWidth_.load(), CAviRecorder::kCodecMjpeg);
}

int CNetJpegStreamPlay::startlocalrecord(LocalRecordRequest request) {
  std::lock_guard<std::mutex> guard(recordLock_);
  if (recording_.load()) {
    return 1;
  }
  request_ = request;
  if (recorder_.Start(request_, pictureHeight_.load(), pictureWidth_.load(), CAviRecorder::kCodecMjpeg) == 0) {
    return 0;
  }
  recording_.store(true);
  return 1;
}

int CNetJpegStreamPlay::stoplocalrecord() {
  std::lock_guard<std::mutex> guard(recordLock_);
  if (recording_.load()) {
    recording_.store(false);
    recorder_.Stop();
  }
  return 1;
}

int CNetJpegStreamPlay::getrecordstatus() { return recording_.load() ? 1 : 0; }

void CNetJpegStreamPlay::recordFrame(uint8_t kind, const uint8_t* payload, uint32_t length) {
  std::lock_guard<std::mutex> guard(recordLock_);
  if (!recording_.load()) {
    return;
  }
  int written = 0;
  if (kind == LUMVARA_FRAME_KIND_JPEG) {
    written = recorder_.WriteVideo(payload, length);
  } else if (kind == LUMVARA_FRAME_KIND_ADPCM && length == static_cast<uint32_t>(kCameraAdpcmFrameBytes)) {
    AdpcmState fresh{};
    int16_t pcm[kCameraAdpcmFrameSamples];
    AdpcmDecodeBlock(&fresh, payload, kCameraAdpcmFrameBytes, pcm);
    written = recorder_.WriteAudio(pcm);
  } else {
    return;  // other kinds are not recorded
  }
  if (written == 0) {
    // The file is full, too old or short of space: go on in a new one.
    restartRecordingLocked();
  }
}

size_t CNetJpegStreamPlay::queuedFrames() {
  std::lock_guard<std::mutex> guard(queueLock_);
  return queue_.size();
}

JpegPlayerCounters CNetJpegStreamPlay::counters() const { return {ticks_.load(), pictures_.load(), drawn_.load()}; }

bool CNetJpegStreamPlay::capturePending() {
  std::lock_guard<std::mutex> guard(captureLock_);
  return capturePending_;
}

std::string CNetJpegStreamPlay::recordFilePath() { return recorder_.FilePath(); }

}  // namespace lumvara
