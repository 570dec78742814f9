// Decodes H.264 access units with libavcodec so tests can see what the
// simulator's pictures hold.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <optional>
#include <vector>

namespace camsim_test {

struct Picture {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<uint8_t> luma;
};

class TestDecoder {
 public:
  TestDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    context_ = avcodec_alloc_context3(codec);
    context_->thread_count = 1;
    avcodec_open2(context_, codec, nullptr);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
  }
  ~TestDecoder() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
  }
  TestDecoder(const TestDecoder&) = delete;
  TestDecoder& operator=(const TestDecoder&) = delete;

  // One access unit in, the picture it completes out (no reordering is used).
  std::optional<Picture> decode(const uint8_t* data, size_t size) {
    packet_->data = const_cast<uint8_t*>(data);
    packet_->size = static_cast<int>(size);
    if (avcodec_send_packet(context_, packet_) < 0) return std::nullopt;
    if (avcodec_receive_frame(context_, frame_) < 0) return std::nullopt;
    Picture picture;
    picture.width = frame_->width;
    picture.height = frame_->height;
    picture.stride = frame_->linesize[0];
    picture.luma.assign(frame_->data[0], frame_->data[0] + static_cast<size_t>(frame_->linesize[0]) * frame_->height);
    av_frame_unref(frame_);
    return picture;
  }

 private:
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
};

}  // namespace camsim_test
