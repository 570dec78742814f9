#include "platform/jpeg/jpeg_decoder.h"

#include <climits>

#include <turbojpeg.h>

namespace lumvara {

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder() {
  if (handle_ != nullptr) {
    tjDestroy(handle_);
  }
}

void JpegDecoder::resetHandle() {
  if (handle_ != nullptr) {
    tjDestroy(handle_);
  }
  handle_ = tjInitDecompress();
}

bool JpegDecoder::readSize(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) {
  if (handle_ == nullptr || data == nullptr || length == 0 || length > ULONG_MAX) {
    return false;
  }
  int w = 0;
  int h = 0;
  int subsampling = 0;
  int colourspace = 0;
  if (tjDecompressHeader3(handle_, data, static_cast<unsigned long>(length), &w, &h, &subsampling, &colourspace) != 0) {
    resetHandle();
    return false;
  }
  if (w <= 0 || h <= 0) {
    return false;
  }
  width = static_cast<uint32_t>(w);
  height = static_cast<uint32_t>(h);
  return true;
}

bool JpegDecoder::decode(const uint8_t* data, size_t length, BgrxImage& image) {
  image = BgrxImage{};
  uint32_t width = 0;
  uint32_t height = 0;
  if (!readSize(data, length, width, height)) {
    return false;
  }
  if (static_cast<uint64_t>(width) * height > kMaxPixels) {
    return false;
  }
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  // Fatal errors fail the image. Warnings (stray bytes before a marker,
  // data that ends early) still give a whole picture, partly grey at worst;
  // cameras produce such images and they are shown as they decode.
  const int rc =
      tjDecompress2(handle_, data, static_cast<unsigned long>(length), pixels.data(), static_cast<int>(width),
                    static_cast<int>(width) * 4, static_cast<int>(height), TJPF_BGRX, 0);
  const bool fatal = rc != 0 && tjGetErrorCode(handle_) != TJERR_WARNING;
  if (rc != 0) {
    // A handle that met an error can carry it into its next image; start
    // the next image on a fresh one.
    resetHandle();
  }
  if (fatal) {
    return false;
  }
  image.width = width;
  image.height = height;
  image.pixels = std::move(pixels);
  return true;
}

}  // namespace lumvara
