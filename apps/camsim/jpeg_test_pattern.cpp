#include "apps/camsim/jpeg_test_pattern.h"

#include <turbojpeg.h>

#include "apps/camsim/h264_test_pattern.h"

namespace lumvara::camsim {

JpegTestPattern::JpegTestPattern(int width, int height, int quality)
    : width_(width), height_(height), quality_(quality), compressor_(tjInitCompress()) {
  const size_t chroma = static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
  planes_.resize(static_cast<size_t>(width) * height + 2 * chroma);
}

JpegTestPattern::~JpegTestPattern() {
  if (compressor_ != nullptr) tjDestroy(compressor_);
}

std::vector<uint8_t> JpegTestPattern::encode(uint32_t index, std::time_t shown_time) {
  if (compressor_ == nullptr) return {};
  const int chroma_width = (width_ + 1) / 2;
  const size_t luma_size = static_cast<size_t>(width_) * height_;
  const size_t chroma_size = static_cast<size_t>(chroma_width) * ((height_ + 1) / 2);
  uint8_t* planes[3] = {planes_.data(), planes_.data() + luma_size, planes_.data() + luma_size + chroma_size};
  const int strides[3] = {width_, chroma_width, chroma_width};
  H264TestPattern::drawPicture(planes, strides, width_, height_, index, shown_time);
  const unsigned char* sources[3] = {planes[0], planes[1], planes[2]};
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompressFromYUVPlanes(compressor_, sources, width_, strides, height_, TJSAMP_420, &jpeg, &size, quality_,
                              TJFLAG_FASTDCT) != 0) {
    tjFree(jpeg);
    return {};
  }
  std::vector<uint8_t> image(jpeg, jpeg + size);
  tjFree(jpeg);
  return image;
}

}  // namespace lumvara::camsim
