#include "apps/cli/stream_writer.h"

#include <lumvara/device.h>

namespace lumvara::cli {

namespace {

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

StreamWriter::StreamWriter(const std::string& path, bool wholeFrames)
    : file_(std::fopen(path.c_str(), "wb")), wholeFrames_(wholeFrames), lastFrameMs_(nowMs()) {}

StreamWriter::~StreamWriter() { close(); }

bool StreamWriter::close() {
  if (file_ == nullptr) {
    return !writeFailed_;
  }
  if (std::fclose(file_) != 0) {
    writeFailed_ = true;
  }
  file_ = nullptr;
  return !writeFailed_;
}

int64_t StreamWriter::idleMs() const { return nowMs() - lastFrameMs_.load(); }

void StreamWriter::write(const unsigned char* data, size_t size) {
  if (file_ != nullptr && std::fwrite(data, 1, size, file_) != size) {
    writeFailed_ = true;
  }
  bytes_ += size;
}

int StreamWriter::onFrame(const unsigned char* frame, int length, void* context) {
  auto* self = static_cast<StreamWriter*>(context);
  if (frame == nullptr || length < LUMVARA_FRAME_HEADER_SIZE || self->paused_) {
    return 0;
  }
  self->lastFrameMs_ = nowMs();
  const unsigned char kind = frame[4];
  if (self->wholeFrames_) {
    ++self->frames_;
    self->write(frame, static_cast<size_t>(length));
    return 0;
  }
  if (kind != LUMVARA_FRAME_KIND_H264_KEY && kind != LUMVARA_FRAME_KIND_H264) {
    return 0;
  }
  // A decoder can only start at a key frame.
  if (!self->started_ && kind != LUMVARA_FRAME_KIND_H264_KEY) {
    return 0;
  }
  self->started_ = true;
  ++self->frames_;
  if (kind == LUMVARA_FRAME_KIND_H264_KEY) {
    ++self->keyFrames_;
  }
  self->write(frame + LUMVARA_FRAME_HEADER_SIZE, static_cast<size_t>(length - LUMVARA_FRAME_HEADER_SIZE));
  return 0;
}

}  // namespace lumvara::cli
