#include "apps/camsim/h264_test_pattern.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace lumvara::camsim {
namespace {

constexpr int kGlyphWidth = 3;
constexpr int kGlyphHeight = 5;
constexpr int kCellWidth = 4;
constexpr int kCellHeight = 6;
constexpr uint8_t kInk = 235;
constexpr uint8_t kPaper = 16;

struct Glyph {
  char symbol;
  const char* rows[kGlyphHeight];
};

constexpr Glyph kGlyphs[] = {
    {'0', {"###", "#.#", "#.#", "#.#", "###"}}, {'1', {".#.", "##.", ".#.", ".#.", "###"}},
    {'2', {"###", "..#", "###", "#..", "###"}}, {'3', {"###", "..#", "###", "..#", "###"}},
    {'4', {"#.#", "#.#", "###", "..#", "..#"}}, {'5', {"###", "#..", "###", "..#", "###"}},
    {'6', {"###", "#..", "###", "#.#", "###"}}, {'7', {"###", "..#", "..#", "..#", "..#"}},
    {'8', {"###", "#.#", "###", "#.#", "###"}}, {'9', {"###", "#.#", "###", "..#", "###"}},
    {':', {"...", ".#.", "...", ".#.", "..."}}, {'-', {"...", "...", "###", "...", "..."}},
    {' ', {"...", "...", "...", "...", "..."}},
};

const Glyph* findGlyph(char symbol) {
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.symbol == symbol) return &glyph;
  }
  return nullptr;
}

void fillRect(uint8_t* plane, int stride, int width, int height, int x, int y, int w, int h, uint8_t value) {
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = std::min(x + w, width), y1 = std::min(y + h, height);
  for (int row = y0; row < y1; ++row) {
    if (x1 > x0) std::memset(plane + static_cast<size_t>(row) * stride + x0, value, x1 - x0);
  }
}

std::string formatTime(std::time_t shown_time) {
  std::tm parts{};
  gmtime_r(&shown_time, &parts);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace

struct H264TestPattern::Encoder {
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  int gop = 50;

  ~Encoder() {
    avcodec_free_context(&context);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }

  bool open(int width, int height, int fps, int key_interval) {
    gop = std::max(key_interval, 1);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) return false;
    context = avcodec_alloc_context3(codec);
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (context == nullptr || frame == nullptr || packet == nullptr) return false;
    context->width = width;
    context->height = height;
    context->time_base = AVRational{1, std::max(fps, 1)};
    context->framerate = AVRational{std::max(fps, 1), 1};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->gop_size = gop;
    context->keyint_min = gop;
    context->max_b_frames = 0;
    context->thread_count = 1;
    // The encoder's start-up notes (CPU features, profile) are not news for a
    // test camera; warnings and errors still get through.
    context->log_level_offset = 8;
    // No look-ahead and no reordering: each picture comes out as it goes in.
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "forced-idr", "1", 0);
    av_opt_set(context->priv_data, "x264-params", "scenecut=0:repeat-headers=1", 0);
    if (avcodec_open2(context, codec, nullptr) < 0) return false;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    return av_frame_get_buffer(frame, 0) >= 0;
  }

  AccessUnit encode(uint32_t index, std::time_t shown_time) {
    AccessUnit unit;
    if (av_frame_make_writable(frame) < 0) return unit;
    drawPicture(frame->data, frame->linesize, frame->width, frame->height, index, shown_time);
    frame->pts = index;
    frame->pict_type = index % static_cast<uint32_t>(gop) == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(context, frame) < 0) return unit;
    while (avcodec_receive_packet(context, packet) == 0) {
      unit.bytes.insert(unit.bytes.end(), packet->data, packet->data + packet->size);
      unit.key = unit.key || (packet->flags & AV_PKT_FLAG_KEY) != 0;
      av_packet_unref(packet);
    }
    return unit;
  }
};

H264TestPattern::H264TestPattern(int width, int height, int fps, int gop) : encoder_(std::make_unique<Encoder>()) {
  if (!encoder_->open(width, height, fps, gop)) encoder_.reset();
}

H264TestPattern::~H264TestPattern() = default;

bool H264TestPattern::ok() const { return encoder_ != nullptr; }

AccessUnit H264TestPattern::encode(uint32_t index, std::time_t shown_time) {
  if (!encoder_) return {};
  return encoder_->encode(index, shown_time);
}

std::vector<AccessUnit> H264TestPattern::encodeFrames(uint32_t count, int width, int height, int gop,
                                                      std::time_t shown_time) {
  std::vector<AccessUnit> units;
  H264TestPattern pattern(width, height, 25, gop);
  if (!pattern.ok()) return units;
  units.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    units.push_back(pattern.encode(i, shown_time + static_cast<std::time_t>(i / 25)));
  }
  return units;
}

void H264TestPattern::drawPicture(uint8_t* const planes[3], const int strides[3], int width, int height, uint32_t index,
                                  std::time_t shown_time) {
  uint8_t* luma = planes[0];
  // A diagonal gradient that moves two pixels per frame.
  for (int y = 0; y < height; ++y) {
    uint8_t* row = luma + static_cast<size_t>(y) * strides[0];
    for (int x = 0; x < width; ++x) {
      row[x] = static_cast<uint8_t>(48 + ((x + y + 2 * static_cast<int>(index)) & 127));
    }
  }
  const int chroma_width = (width + 1) / 2, chroma_height = (height + 1) / 2;
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < chroma_height; ++y) {
      uint8_t* row = planes[plane] + static_cast<size_t>(y) * strides[plane];
      for (int x = 0; x < chroma_width; ++x) {
        row[x] = static_cast<uint8_t>(plane == 1 ? 96 + (x * 64) / chroma_width : 96 + (y * 64) / chroma_height);
      }
    }
  }
  char number[16];
  std::snprintf(number, sizeof number, "%06u", index % 1000000u);
  const std::string time = formatTime(shown_time);
  const struct {
    const char* text;
    int x, y, scale;
  } lines[] = {{number, kNumberX, kNumberY, kNumberScale}, {time.c_str(), kTimeX, kTimeY, kTimeScale}};
  for (const auto& line : lines) {
    // A dark box with a margin keeps the digits sharp against the gradient.
    const int chars = static_cast<int>(std::strlen(line.text));
    fillRect(luma, strides[0], width, height, line.x - line.scale, line.y - line.scale,
             chars * kCellWidth * line.scale + line.scale, kCellHeight * line.scale + line.scale, kPaper);
    drawText(luma, strides[0], width, height, line.x, line.y, line.text, line.scale, kInk);
  }
}

void H264TestPattern::drawText(uint8_t* luma, int stride, int width, int height, int x, int y, const char* text,
                               int scale, uint8_t value) {
  for (int c = 0; text[c] != '\0'; ++c) {
    const Glyph* glyph = findGlyph(text[c]);
    if (glyph == nullptr) continue;
    const int cell_x = x + c * kCellWidth * scale;
    for (int gy = 0; gy < kGlyphHeight; ++gy) {
      for (int gx = 0; gx < kGlyphWidth; ++gx) {
        if (glyph->rows[gy][gx] != '#') continue;
        fillRect(luma, stride, width, height, cell_x + gx * scale, y + gy * scale, scale, scale, value);
      }
    }
  }
}

std::string H264TestPattern::readText(const uint8_t* luma, int stride, int x, int y, int chars, int scale) {
  std::string text;
  for (int c = 0; c < chars; ++c) {
    const int cell_x = x + c * kCellWidth * scale;
    char seen = '?';
    for (const Glyph& glyph : kGlyphs) {
      bool match = true;
      for (int gy = 0; gy < kGlyphHeight && match; ++gy) {
        for (int gx = 0; gx < kGlyphWidth && match; ++gx) {
          // Sample the middle of each dot; decoded pictures blur the edges.
          const int px = cell_x + gx * scale + scale / 2;
          const int py = y + gy * scale + scale / 2;
          const bool ink = luma[static_cast<size_t>(py) * stride + px] > 128;
          match = ink == (glyph.rows[gy][gx] == '#');
        }
      }
      if (match) {
        seen = glyph.symbol;
        break;
      }
    }
    text.push_back(seen);
  }
  return text;
}

}  // namespace lumvara::camsim
