#include "player/net_h264_stream_play.h"

#include <cstring>
#include <new>

#include "audio/g711.h"
#include "platform/sync/thread_priority.h"
#include "platform/sync/tick.h"

namespace lumvara {

namespace {

constexpr uint8_t kKindKey = LUMVARA_FRAME_KIND_H264_KEY;
constexpr uint8_t kKindOther = LUMVARA_FRAME_KIND_H264;
constexpr uint8_t kKindAdpcm = LUMVARA_FRAME_KIND_ADPCM;
constexpr uint8_t kKindAlaw = LUMVARA_FRAME_KIND_ALAW;

// More frames than this waiting makes the decode thread pause briefly after
// a picture, so that a burst does not starve the receive side.
constexpr size_t kBacklogPause = 5;
constexpr uint32_t kBacklogPauseMs = 10;

// How long the audio thread sleeps when its queue is empty before it looks
// at its flags again; new frames wake it at once.
constexpr uint32_t kAudioIdleWaitMs = 100;

StreamFrameHeader headerOf(const uint8_t* block) {
  StreamFrameHeader header;
  std::memcpy(&header, block, sizeof header);
  return header;
}

const uint8_t* payloadOf(const uint8_t* block) { return block + sizeof(StreamFrameHeader); }

bool isAudioFrame(const StreamFrameHeader& header, uint8_t kind, uint32_t length) {
  return header.kind == kind && header.length == length;
}

std::unique_ptr<uint8_t[]> pictureBuffer() {
  // Not initialised: only the pages a picture is written into become
  // resident, however large the buffer.
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kPictureBufferBytes]);
}

H264DecoderAttributes decoderAttributes() {
  // 80 x 45 macroblocks (1280 x 720), 8 reference pictures.
  H264DecoderAttributes attributes;
  attributes.reserved0 = 0;
  attributes.reserved1 = 0;
  attributes.maxWidthMacroblocks = 80;
  attributes.maxHeightMacroblocks = 45;
  attributes.referencePictures = 8;
  attributes.reserved5 = 16;
  attributes.reserved6 = 0;
  attributes.reserved7 = 0;
  return attributes;
}

// Copies a decoded picture into `out` as packed I420: luma rows, then the
// second and the third plane, each row exactly as wide as the picture.
void copyPacked(const H264Picture& picture, uint8_t* out) {
  const uint32_t width = picture.width;
  const uint32_t height = picture.height;
  for (uint32_t row = 0; row < height; ++row) {
    std::memcpy(out, picture.luma + static_cast<size_t>(row) * picture.lumaStride, width);
    out += width;
  }
  for (const uint8_t* plane : {picture.chroma1, picture.chroma2}) {
    for (uint32_t row = 0; row < height / 2; ++row) {
      std::memcpy(out, plane + static_cast<size_t>(row) * picture.chromaStride, width / 2);
      out += width / 2;
    }
  }
}

}  // namespace

CNetH264StreamPlay::CNetH264StreamPlay() : CNetH264StreamPlay(Options{}) {}

CNetH264StreamPlay::CNetH264StreamPlay(Options options) : options_(options) {}

CNetH264StreamPlay::~CNetH264StreamPlay() {
  stopPlay();
  // Recording and sound may have been switched on while stopped; the
  // recording ends first so that closing the sound does not restart it.
  stoplocalrecord();
  closeSound();
  tickTimer_.stop();
}

// --- start and stop ---------------------------------------------------------

int CNetH264StreamPlay::startPlay() {
  if (playing_.load()) {
    return 1;
  }
  keyFrameSeen_.store(false);
  waitingForKeyFrame_.store(false);
  pictureWidth_.store(0);
  pictureHeight_.store(0);
  tickEvent_.reset();

  decodeBuffer_ = pictureBuffer();
  {
    std::lock_guard<std::mutex> guard(renderer_.pictureLock());
    lastPicture_ = pictureBuffer();
  }
  decoder_ = H264Decoder::create(decoderAttributes());
  if (decodeBuffer_ == nullptr || lastPicture_ == nullptr || decoder_ == nullptr) {
    decoder_.reset();
    decodeBuffer_.reset();
    std::lock_guard<std::mutex> guard(renderer_.pictureLock());
    lastPicture_.reset();
    return 0;
  }
  playing_.store(true);
  if (options_.tickTimer) {
    tickTimer_.start(kDecodeTickMs, [this] {
      if (playing_.load()) {
        tickEvent_.set();
      }
    });
  }
  decodeThread_ = std::thread([this] { decodeLoop(); });
  return 1;
}

int CNetH264StreamPlay::stopPlay() {
  if (!playing_.load()) {
    return 1;
  }
  stoplocalrecord();
  closeSound();
  tickTimer_.stop();

  playing_.store(false);
  tickEvent_.set();
  if (decodeThread_.joinable()) {
    decodeThread_.join();
  }
  // Zeroed once the decode thread is gone, so that its last picture
  // cannot set them again.
  pictureWidth_.store(0);
  pictureHeight_.store(0);
  {
    std::lock_guard<std::mutex> guard(renderer_.pictureLock());
    renderer_.release();
    lastPicture_.reset();
    lastPictureWidth_ = 0;
    lastPictureHeight_ = 0;
  }
  joinAudioThread();
  decodeBuffer_.reset();
  decoder_.reset();
  flushVideoQueue();
  return 1;
}

// --- window and settings ----------------------------------------------------

int CNetH264StreamPlay::setPlayWnd(winsys::HWND window) {
  if (window == nullptr) {
    return 0;
  }
  window_.store(window);
  return 1;
}

winsys::HWND CNetH264StreamPlay::getPlayWnd() { return window_.load(); }

int CNetH264StreamPlay::setOsdString(int32_t index, const OsdStringRecord* record) {
  if (record == nullptr) {
    return 0;
  }
  return renderer_.setOsdString(index, *record);
}

int CNetH264StreamPlay::removeOsdstring(int32_t index) { return renderer_.removeOsdstring(index); }

int CNetH264StreamPlay::adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom) {
  renderer_.adjustViewArea(left, right, top, bottom);
  return 1;
}

int CNetH264StreamPlay::setRenderEffect(int32_t effect) {
  renderer_.setRenderEffect(effect);
  return 1;
}

int CNetH264StreamPlay::renderActualProportion(int32_t flag) {
  renderer_.renderActualProportion(flag);
  return 1;
}

// --- pictures ---------------------------------------------------------------

int CNetH264StreamPlay::refreshLastPicture() {
  if (pictureWidth_.load() == 0) {
    return 0;
  }
  std::lock_guard<std::mutex> guard(renderer_.pictureLock());
  // The size that belongs to the last picture, not that of a picture the
  // decode thread is copying out right now.
  if (lastPicture_ == nullptr || lastPictureWidth_ == 0) {
    return 0;  // stopped meanwhile
  }
  if (renderer_.loadPicture(lastPicture_.get(), lastPictureWidth_, lastPictureHeight_, window_.load())) {
    renderer_.presentPicture();
  }
  return 1;
}

int CNetH264StreamPlay::capturePicture(const char* path) {
  if (!playing_.load() || path == nullptr) {
    return 0;
  }
  return renderer_.capture(path, nullptr) == CaptureResult::Written ? 1 : 0;
}

int CNetH264StreamPlay::capturePictureBuf(uint8_t* buffer) {
  if (!playing_.load() || buffer == nullptr) {
    return 0;
  }
  return renderer_.capture(nullptr, buffer) == CaptureResult::Written ? 1 : 0;
}

int CNetH264StreamPlay::getPlayPicSize(int32_t* width, int32_t* height) {
  if (!playing_.load() || width == nullptr || height == nullptr) {
    return 0;
  }
  *width = renderer_.width();
  *height = renderer_.height();
  return 1;
}

// --- frame input ------------------------------------------------------------

int CNetH264StreamPlay::inputNetFrame(const uint8_t* frame, uint32_t length) {
  // A frame must hold its header and the payload the header announces;
  // anything else is not read at all.
  if (frame == nullptr || length < sizeof(StreamFrameHeader) || length > kFrameBlockSize) {
    return 0;
  }
  const double inputMillis = FrameInputClockMillis();
  const StreamFrameHeader header = headerOf(frame);
  if (header.length > length - sizeof(StreamFrameHeader)) {
    return 0;
  }
  if (recording_.load()) {
    recordFrame(header, payloadOf(frame));
  }
  if (!playing_.load()) {
    return 0;
  }
  if (header.kind == kKindAdpcm || header.kind == kKindAlaw) {
    const bool wellFormed = isAudioFrame(header, kKindAdpcm, kCameraAdpcmFrameBytes) ||
                            isAudioFrame(header, kKindAlaw, kCameraAlawFrameBytes);
    if (!wellFormed || !soundOn_.load()) {
      return 1;
    }
    FrameBlock block = pool_.copyOf(frame, length);
    if (block == nullptr) {
      return 1;
    }
    {
      std::lock_guard<std::mutex> guard(audioQueueLock_);
      audioQueue_.push_back(std::move(block));
    }
    audioWake_.set();
    return 1;
  }
  FrameBlock block = pool_.copyOf(frame, length, inputMillis);
  if (block != nullptr) {
    queueVideo(std::move(block));
  }
  return 1;
}

void CNetH264StreamPlay::queueVideo(FrameBlock block) {
  const bool key = headerOf(block.get()).kind == kKindKey;
  FrameQueue dropped;  // freed after the lock is left
  std::lock_guard<std::mutex> guard(videoQueueLock_);
  const size_t queued = videoQueue_.size();
  if (waitingForKeyFrame_.load()) {
    if (!key || queued >= kVideoQueueWaitLimit) {
      return;  // `block` is freed on return
    }
    videoQueue_.push_back(std::move(block));
    waitingForKeyFrame_.store(false);
    return;
  }
  if (queued < kVideoQueueLimit) {
    videoQueue_.push_back(std::move(block));
    return;
  }
  if (!key) {
    waitingForKeyFrame_.store(true);
    keyFrameWaits_.fetch_add(1);
    return;
  }
  dropped.swap(videoQueue_);
  videoQueue_.push_back(std::move(block));
}

int CNetH264StreamPlay::getListFrameNum() {
  std::lock_guard<std::mutex> guard(videoQueueLock_);
  return static_cast<int>(videoQueue_.size());
}

void CNetH264StreamPlay::flushVideoQueue() {
  FrameQueue dropped;
  std::lock_guard<std::mutex> guard(videoQueueLock_);
  dropped.swap(videoQueue_);
}

std::vector<StreamFrameHeader> CNetH264StreamPlay::queuedVideoHeaders() {
  std::lock_guard<std::mutex> guard(videoQueueLock_);
  std::vector<StreamFrameHeader> headers;
  for (const FrameBlock& block : videoQueue_) {
    headers.push_back(headerOf(block.get()));
  }
  return headers;
}

size_t CNetH264StreamPlay::queuedAudioFrames() {
  std::lock_guard<std::mutex> guard(audioQueueLock_);
  return audioQueue_.size();
}

H264PlayTrace CNetH264StreamPlay::trace() const {
  H264PlayTrace trace;
  trace.framesTaken = framesTaken_.load();
  trace.picturesShown = picturesShown_.load();
  trace.lastTakenTime = lastTakenTime_.load();
  trace.lastShownTime = lastShownTime_.load();
  trace.audioFramesPlayed = audioFramesPlayed_.load();
  trace.keyFrameWaits = keyFrameWaits_.load();
  return trace;
}

// --- decode thread ----------------------------------------------------------

void CNetH264StreamPlay::tick() { tickEvent_.set(); }

FrameBlock CNetH264StreamPlay::takeVideoFrame() {
  FrameQueue discarded;  // freed after the lock is left
  std::lock_guard<std::mutex> guard(videoQueueLock_);
  while (!videoQueue_.empty()) {
    FrameBlock block = std::move(videoQueue_.front());
    videoQueue_.pop_front();
    const uint8_t kind = headerOf(block.get()).kind;
    if (kind != kKindKey && kind != kKindOther) {
      discarded.push_back(std::move(block));
      continue;
    }
    if (!keyFrameSeen_.load()) {
      if (kind != kKindKey) {
        discarded.push_back(std::move(block));
        continue;
      }
      keyFrameSeen_.store(true);
    }
    return block;
  }
  return FrameBlock(nullptr, FrameBlockReturn{&pool_});
}

void CNetH264StreamPlay::decodeLoop() {
  // Pictures are due on the tick; where the system allows it, the decode
  // thread runs ahead of ordinary work.
  setCurrentThreadPriority(ThreadPriority::TimeCritical);
  for (;;) {
    tickEvent_.waitForever();
    if (!playing_.load()) {
      return;
    }
    FrameBlock block = takeVideoFrame();
    if (block != nullptr && !decodeFrame(block.get())) {
      return;  // the picture does not fit the buffers: no more pictures until restarted
    }
    block.reset();
    if (static_cast<size_t>(getListFrameNum()) > kBacklogPause) {
      sleepMs(kBacklogPauseMs);
    }
  }
}

// False only when the picture is too large for the picture buffers.
bool CNetH264StreamPlay::decodeFrame(const uint8_t* block) {
  const StreamFrameHeader header = headerOf(block);
  framesTaken_.fetch_add(1);
  lastTakenTime_.store(header.time);
  H264Picture picture;
  if (decoder_->decodeAccessUnit(payloadOf(block), header.length, picture) != 0 || picture.error != 0) {
    return true;  // the previous picture stays on screen
  }
  const uint64_t packedBytes = uint64_t{picture.width} * picture.height * 3 / 2;
  if (packedBytes > kPictureBufferBytes) {
    return false;
  }
  const auto width = static_cast<int32_t>(picture.width);
  const auto height = static_cast<int32_t>(picture.height);
  pictureWidth_.store(width);
  pictureHeight_.store(height);
  copyPacked(picture, decodeBuffer_.get());

  std::lock_guard<std::mutex> guard(renderer_.pictureLock());
  // The new picture becomes the last picture; the old one's buffer takes
  // the next decode.
  lastPicture_.swap(decodeBuffer_);
  lastPictureWidth_ = width;
  lastPictureHeight_ = height;
  renderer_.setFrameTime(static_cast<int64_t>(header.time), header.zone, FrameBlockPool::inputMillisOf(block));
  if (renderer_.loadPicture(lastPicture_.get(), width, height, window_.load())) {
    renderer_.presentPicture();
    lastShownTime_.store(header.time);
    picturesShown_.fetch_add(1);
  }
  return true;
}

// --- sound ------------------------------------------------------------------

int CNetH264StreamPlay::openSound() {
  // The result is 0 whether or not the output opened; soundOn() tells.
  if (soundOn_.load()) {
    return 0;
  }
  if (soundOutput_.Open() == 0) {
    return 0;
  }
  playAdpcm_.decPredictor = 0;
  playAdpcm_.decStepIndex = 0;
  soundOn_.store(true);
  startAudioThread();
  if (recording_.load()) {
    restartRecording();
  }
  return 0;
}

int CNetH264StreamPlay::closeSound() {
  if (!soundOn_.load()) {
    return 1;
  }
  joinAudioThread();
  soundOutput_.Close();
  if (recording_.load()) {
    restartRecording();
  }
  flushVideoQueue();
  return 1;
}

void CNetH264StreamPlay::startAudioThread() {
  audioThread_ = std::thread([this] { audioLoop(); });
}

void CNetH264StreamPlay::joinAudioThread() {
  soundOn_.store(false);
  audioWake_.set();
  if (audioThread_.joinable()) {
    audioThread_.join();
  }
}

void CNetH264StreamPlay::audioLoop() {
  // Runs while sound is on, also before the player starts: frames are
  // queued only while playing, so it simply idles until then.
  while (soundOn_.load()) {
    FrameBlock block(nullptr, FrameBlockReturn{&pool_});
    {
      std::lock_guard<std::mutex> guard(audioQueueLock_);
      if (!audioQueue_.empty()) {
        block = std::move(audioQueue_.front());
        audioQueue_.pop_front();
      }
    }
    if (block == nullptr) {
      audioWake_.wait(kAudioIdleWaitMs);
      continue;
    }
    playAudioFrame(block.get());
  }
}

void CNetH264StreamPlay::playAudioFrame(const uint8_t* block) {
  const StreamFrameHeader header = headerOf(block);
  if (isAudioFrame(header, kKindAdpcm, kCameraAdpcmFrameBytes)) {
    int16_t samples[kCameraAdpcmFrameSamples];
    AdpcmDecodeBlock(&playAdpcm_, payloadOf(block), kCameraAdpcmFrameBytes, samples);
    soundOutput_.QueueData(sizeof samples, reinterpret_cast<const uint8_t*>(samples));
    audioFramesPlayed_.fetch_add(1);
  } else if (isAudioFrame(header, kKindAlaw, kCameraAlawFrameBytes)) {
    int16_t samples[kCameraAlawFrameBytes];
    AlawExpandBlock(payloadOf(block), kCameraAlawFrameBytes, samples);
    soundOutput_.QueueData(sizeof samples, reinterpret_cast<const uint8_t*>(samples));
    audioFramesPlayed_.fetch_add(1);
  }
}

// --- recording --------------------------------------------------------------

int CNetH264StreamPlay::startlocalrecord(LocalRecordRequest request) {
  std::lock_guard<std::mutex> guard(recordLock_);
  if (recording_.load()) {
    return 1;
  }
  storedRequest_ = request;
  recordAdpcm_.decPredictor = 0;
  recordAdpcm_.decStepIndex = 0;
  if (recorder_.Start(storedRequest_, pictureHeight_.load(), pictureWidth_.load(), CAviRecorder::kCodecH264) == 0) {
    return 0;
  }
  recordAwaitsKeyFrame_ = true;
  recording_.store(true);
  return 1;
}

int CNetH264StreamPlay::stoplocalrecord() {
  std::lock_guard<std::mutex> guard(recordLock_);
  if (recording_.load()) {
    recording_.store(false);
    recorder_.Stop();
  }
  return 1;
}

int CNetH264StreamPlay::getrecordstatus() { return recording_.load() ? 1 : 0; }

void CNetH264StreamPlay::restartRecording() {
  std::lock_guard<std::mutex> guard(recordLock_);
  if (recording_.load()) {
    restartRecordingLocked();
  }
}

void CNetH264StreamPlay::restartRecordingLocked() {
  // The recorder opens the next file.
  recorder_.Stop();
  recorder_.Start(storedRequest_, pictureHeight_.load(), pictureWidth_.load(), CAviRecorder::kCodecH264);
  recordAwaitsKeyFrame_ = true;
}

void CNetH264StreamPlay::recordFrame(const StreamFrameHeader& header, const uint8_t* payload) {
  std::lock_guard<std::mutex> guard(recordLock_);
  if (!recording_.load()) {
    return;
  }
  if (header.kind == kKindKey || header.kind == kKindOther) {
    // A file starts with a key frame: frames before it could not be
    // decoded by anyone reading the file. The recorder's clock fills
    // the time they would have taken.
    if (header.kind == kKindOther && recordAwaitsKeyFrame_) {
      return;
    }
    recordAwaitsKeyFrame_ = false;
    if (recorder_.WriteVideo(payload, header.length) == 0) {
      restartRecordingLocked();
    }
    return;
  }
  if (header.kind == kKindAdpcm && header.length == static_cast<uint32_t>(kCameraAdpcmFrameBytes)) {
    int16_t samples[kCameraAdpcmFrameSamples];
    AdpcmDecodeBlock(&recordAdpcm_, payload, kCameraAdpcmFrameBytes, samples);
    if (recorder_.WriteAudio(samples) == 0) {
      restartRecordingLocked();
    }
  }
}

}  // namespace lumvara
