#include "h264/test_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace lumvara::test {

std::vector<EncodedUnit> encodeTestPattern(int width, int height, int count, int keyInterval) {
  std::vector<EncodedUnit> units;
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) {
    return units;
  }
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->width = width;
  context->height = height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 25};
  context->gop_size = keyInterval;
  context->max_b_frames = 0;
  context->thread_count = 1;
  av_opt_set(context->priv_data, "preset", "ultrafast", 0);
  av_opt_set(context->priv_data, "tune", "zerolatency", 0);
  av_opt_set(context->priv_data, "x264-params", "repeat-headers=1:scenecut=0", 0);
  if (avcodec_open2(context, codec, nullptr) < 0) {
    avcodec_free_context(&context);
    return units;
  }
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  av_frame_get_buffer(frame, 0);
  AVPacket* packet = av_packet_alloc();

  auto drain = [&] {
    while (avcodec_receive_packet(context, packet) >= 0) {
      units.push_back(
          {std::vector<uint8_t>(packet->data, packet->data + packet->size), (packet->flags & AV_PKT_FLAG_KEY) != 0});
      av_packet_unref(packet);
    }
  };
  for (int n = 0; n < count; ++n) {
    av_frame_make_writable(frame);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x + y + n * 3);
      }
    }
    for (int plane = 1; plane < 3; ++plane) {
      for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
          frame->data[plane][y * frame->linesize[plane] + x] = static_cast<uint8_t>(plane == 1 ? 90 : 160);
        }
      }
    }
    frame->pts = n;
    avcodec_send_frame(context, frame);
    drain();
  }
  avcodec_send_frame(context, nullptr);
  drain();
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return units;
}

}  // namespace lumvara::test
