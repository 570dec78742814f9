#include "platform/h264/h264_decoder.h"

#include <algorithm>
#include <climits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace lumvara {

namespace {

// libavcodec wants this many zeroed bytes behind every input buffer.
constexpr size_t kInputPadding = AV_INPUT_BUFFER_PADDING_SIZE;

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

bool isPlanar420(int format) { return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P; }

bool frameIsCorrupt(const AVFrame& frame) {
  if (frame.decode_error_flags != 0) {
    return true;
  }
#ifdef AV_FRAME_FLAG_CORRUPT
  return (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0;
#else
  return false;
#endif
}

}  // namespace

struct H264Decoder::Impl {
  std::unique_ptr<AVCodecContext, CodecContextDeleter> context;
  std::unique_ptr<AVFrame, FrameDeleter> frame;
  std::unique_ptr<AVFrame, FrameDeleter> scratch;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
};

H264Decoder::H264Decoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
H264Decoder::~H264Decoder() = default;

std::unique_ptr<H264Decoder> H264Decoder::create(const H264DecoderAttributes& attributes) {
  (void)attributes;  // libavcodec sizes its own reference list from the stream.
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (codec == nullptr) {
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->context.reset(avcodec_alloc_context3(codec));
  impl->frame.reset(av_frame_alloc());
  impl->scratch.reset(av_frame_alloc());
  impl->packet.reset(av_packet_alloc());
  if (!impl->context || !impl->frame || !impl->scratch || !impl->packet) {
    return nullptr;
  }
  AVCodecContext& context = *impl->context;
  // One access unit in, its picture out in the same call: no frame threads
  // (they delay output) and low-delay output order.
  context.thread_count = 1;
  context.flags |= AV_CODEC_FLAG_LOW_DELAY;
  // Look closely for damage. The decoder still conceals what it finds and
  // goes on with the stream, but marks such pictures; decodeAccessUnit
  // reports them as errors, so the player keeps the previous picture on
  // screen rather than show a patched one.
  context.err_recognition |= AV_EF_CRCCHECK | AV_EF_BITSTREAM;
  if (avcodec_open2(&context, codec, nullptr) < 0) {
    return nullptr;
  }
  return std::unique_ptr<H264Decoder>(new H264Decoder(std::move(impl)));
}

int H264Decoder::decodeAccessUnit(const uint8_t* data, size_t length, H264Picture& picture) {
  picture = H264Picture{};
  if (data == nullptr || length == 0 || length > static_cast<size_t>(INT_MAX) - kInputPadding) {
    return -1;
  }
  AVPacket& packet = *impl_->packet;
  av_packet_unref(&packet);
  if (av_new_packet(&packet, static_cast<int>(length)) < 0) {
    return -1;
  }
  std::copy(data, data + length, packet.data);

  const int sent = avcodec_send_packet(impl_->context.get(), &packet);
  av_packet_unref(&packet);
  if (sent < 0 && sent != AVERROR(EAGAIN)) {
    return sent;
  }
  // Keep the newest picture this unit completed; with low-delay output
  // there is at most one.
  AVFrame& frame = *impl_->frame;
  AVFrame& scratch = *impl_->scratch;
  av_frame_unref(&frame);
  bool havePicture = false;
  while (avcodec_receive_frame(impl_->context.get(), &scratch) >= 0) {
    av_frame_unref(&frame);
    av_frame_move_ref(&frame, &scratch);
    havePicture = true;
  }
  if (!havePicture || !isPlanar420(frame.format) || frameIsCorrupt(frame) || frame.width <= 0 || frame.height <= 0 ||
      frame.linesize[0] <= 0 || frame.linesize[1] <= 0 || frame.linesize[1] != frame.linesize[2]) {
    return 0;
  }
  picture.luma = frame.data[0];
  picture.chroma1 = frame.data[1];
  picture.chroma2 = frame.data[2];
  picture.width = static_cast<uint32_t>(frame.width);
  picture.height = static_cast<uint32_t>(frame.height);
  picture.lumaStride = static_cast<uint32_t>(frame.linesize[0]);
  picture.chromaStride = static_cast<uint32_t>(frame.linesize[1]);
  picture.error = 0;
  return 0;
}

}  // namespace lumvara
