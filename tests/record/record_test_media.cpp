#include "tests/record/record_test_media.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace lumvara::test {
namespace {

struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

void FillPattern(AVFrame* frame, int index) {
  for (int y = 0; y < frame->height; ++y)
    for (int x = 0; x < frame->width; ++x)
      frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x + y + index * 3);
  for (int plane = 1; plane < 3; ++plane)
    for (int y = 0; y < frame->height / 2; ++y)
      std::memset(frame->data[plane] + y * frame->linesize[plane], 128 + plane * index % 64,
                  static_cast<size_t>(frame->width / 2));
}

std::vector<std::vector<uint8_t>> Encode(const AVCodec* codec, AVPixelFormat format, int width, int height, int count,
                                         bool h264) {
  if (!codec) throw std::runtime_error("encoder missing");
  av_log_set_level(AV_LOG_ERROR);
  std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
  ctx->width = width;
  ctx->height = height;
  ctx->pix_fmt = format;
  ctx->time_base = AVRational{1, 25};
  ctx->framerate = AVRational{25, 1};
  ctx->gop_size = 25;
  ctx->max_b_frames = 0;
  if (h264) {
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    ctx->bit_rate = 4000000;
  } else {
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 5;
  }
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) throw std::runtime_error("encoder open");
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  frame->format = format;
  frame->width = width;
  frame->height = height;
  av_frame_get_buffer(frame.get(), 0);
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  std::vector<std::vector<uint8_t>> out;
  auto drain = [&] {
    while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
      out.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < count; ++i) {
    av_frame_make_writable(frame.get());
    FillPattern(frame.get(), i);
    frame->pts = i;
    avcodec_send_frame(ctx.get(), frame.get());
    drain();
  }
  avcodec_send_frame(ctx.get(), nullptr);
  drain();
  return out;
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

std::vector<std::vector<uint8_t>> EncodeH264Frames(int width, int height, int count) {
  return Encode(avcodec_find_encoder_by_name("libx264"), AV_PIX_FMT_YUV420P, width, height, count, true);
}

std::vector<std::vector<uint8_t>> EncodeMjpegFrames(int width, int height, int count) {
  return Encode(avcodec_find_encoder(AV_CODEC_ID_MJPEG), AV_PIX_FMT_YUVJ420P, width, height, count, false);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

std::vector<AviChunk> ReadAviChunks(const std::string& path, bool withData) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::vector<AviChunk> chunks;
  if (bytes.size() < 12) return chunks;
  const size_t riffEnd = std::min<size_t>(bytes.size(), 8 + size_t{Le32(&bytes[4])});
  const uint8_t* idx1 = nullptr;
  size_t idx1Size = 0;
  for (size_t p = 12; p + 8 <= riffEnd;) {
    const size_t size = Le32(&bytes[p + 4]);
    if (std::memcmp(&bytes[p], "LIST", 4) == 0 && std::memcmp(&bytes[p + 8], "movi", 4) == 0) {
      for (size_t q = p + 12; q + 8 <= p + 8 + size;) {
        const size_t n = Le32(&bytes[q + 4]);
        AviChunk c;
        c.id.assign(reinterpret_cast<const char*>(&bytes[q]), 4);
        c.size = uint32_t(n);
        if (withData && (c.id == "00dc" || c.id == "01wb"))
          c.data.assign(bytes.begin() + static_cast<long>(q + 8), bytes.begin() + static_cast<long>(q + 8 + n));
        if (c.id == "00dc" || c.id == "01wb") chunks.push_back(std::move(c));
        q += 8 + n + (n & 1);
      }
    }
    if (std::memcmp(&bytes[p], "idx1", 4) == 0) {
      idx1 = &bytes[p + 8];
      idx1Size = size;
    }
    p += 8 + size + (size & 1);
  }
  for (size_t i = 0; idx1 && i < chunks.size() && (i + 1) * 16 <= idx1Size; ++i)
    chunks[i].indexFlags = Le32(idx1 + i * 16 + 4);
  return chunks;
}

nlohmann::json Probe(const std::string& path, bool countPackets) {
  const std::string command = std::string("ffprobe -v error -show_streams -show_format ") +
                              (countPackets ? "-count_packets " : "") + "-of json '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return nullptr;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  if (pclose(pipe) != 0) return nullptr;
  return nlohmann::json::parse(text, nullptr, false);
}

TempDir::TempDir(const std::string& base) {
  const std::filesystem::path folder =
      base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  std::string pattern = (folder / "lumvara-record-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

LocalRecordRequest MakeRequest(const std::string& root, const char* camera, uint32_t cover) {
  LocalRecordRequest r;
  std::memset(&r, 0, sizeof r);
  std::snprintf(r.rootPath, sizeof r.rootPath, "%s", root.c_str());
  std::snprintf(r.cameraName, sizeof r.cameraName, "%s", camera);
  r.cover = cover;
  return r;
}

}  // namespace lumvara::test

namespace lumvara::test {

std::vector<uint8_t> PadH264(const std::vector<uint8_t>& frame, size_t size) {
  constexpr uint8_t kFillerHeader[] = {0, 0, 0, 1, 0x0C};
  std::vector<uint8_t> out = frame;
  if (size < frame.size() + sizeof kFillerHeader + 1) return out;
  out.insert(out.end(), std::begin(kFillerHeader), std::end(kFillerHeader));
  out.resize(size - 1, 0xFF);
  out.push_back(0x80);  // trailing bits
  return out;
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) { return Le32(&bytes.at(offset + 3) - 3); }

size_t FindTag(const std::vector<uint8_t>& bytes, const char* tag, int n) {
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], tag, 4) == 0 && n-- == 0) return i;
  }
  return std::string::npos;
}

}  // namespace lumvara::test
