#include "apps/cli/wav_writer.h"

#include <lumvara/device.h>

#include <array>

namespace lumvara::cli {

namespace {

constexpr uint16_t kWaveFormatAlaw = 6;
constexpr uint32_t kSampleRate = 8000;
constexpr uint16_t kBitsPerSample = 8;
// RIFF header, an 18-byte fmt chunk, a fact chunk and the data chunk header.
constexpr size_t kHeaderSize = 12 + 8 + 18 + 12 + 8;
// WAV sizes are 32-bit: stop taking audio well before they would wrap.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderSize;

void putLe16(uint8_t*& p, uint16_t v) {
  *p++ = static_cast<uint8_t>(v);
  *p++ = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t*& p, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    *p++ = static_cast<uint8_t>(v >> (8 * i));
  }
}

void putTag(uint8_t*& p, const char* tag) {
  for (int i = 0; i < 4; ++i) {
    *p++ = static_cast<uint8_t>(tag[i]);
  }
}

}  // namespace

WavWriter::WavWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
  if (file_ != nullptr && !writeHeader(0)) {
    writeFailed_ = true;
  }
}

WavWriter::~WavWriter() { close(); }

bool WavWriter::writeHeader(uint32_t dataBytes) {
  std::array<uint8_t, kHeaderSize> header{};
  uint8_t* p = header.data();
  putTag(p, "RIFF");
  putLe32(p, static_cast<uint32_t>(kHeaderSize - 8 + dataBytes + (dataBytes & 1)));
  putTag(p, "WAVE");
  putTag(p, "fmt ");
  putLe32(p, 18);
  putLe16(p, kWaveFormatAlaw);
  putLe16(p, 1);                                 // channels
  putLe32(p, kSampleRate);                       // samples per second
  putLe32(p, kSampleRate * kBitsPerSample / 8);  // bytes per second
  putLe16(p, 1);                                 // block align
  putLe16(p, kBitsPerSample);
  putLe16(p, 0);  // no extra format bytes
  putTag(p, "fact");
  putLe32(p, 4);
  putLe32(p, dataBytes);  // one byte per sample
  putTag(p, "data");
  putLe32(p, dataBytes);
  return std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(header.data(), 1, header.size(), file_) == header.size();
}

bool WavWriter::close() {
  if (file_ == nullptr) {
    return !writeFailed_;
  }
  const auto dataBytes = static_cast<uint32_t>(alawBytes_.load());
  if (dataBytes & 1) {
    const uint8_t pad = 0;  // chunks are padded to even sizes
    std::fseek(file_, 0, SEEK_END);
    std::fwrite(&pad, 1, 1, file_);
  }
  if (!writeHeader(dataBytes)) {
    writeFailed_ = true;
  }
  if (std::fclose(file_) != 0) {
    writeFailed_ = true;
  }
  file_ = nullptr;
  return !writeFailed_;
}

int WavWriter::onFrame(const unsigned char* frame, int length, void* context) {
  auto* self = static_cast<WavWriter*>(context);
  if (frame == nullptr || length < LUMVARA_FRAME_HEADER_SIZE || self->file_ == nullptr) {
    return 0;
  }
  const unsigned char kind = frame[4];
  if (kind == LUMVARA_FRAME_KIND_ADPCM) {
    ++self->adpcmFrames_;
    return 0;
  }
  if (kind != LUMVARA_FRAME_KIND_ALAW) {
    return 0;
  }
  const auto size = static_cast<size_t>(length - LUMVARA_FRAME_HEADER_SIZE);
  if (self->alawBytes_.load() + size > kMaxDataBytes) {
    return 0;
  }
  if (std::fwrite(frame + LUMVARA_FRAME_HEADER_SIZE, 1, size, self->file_) != size) {
    self->writeFailed_ = true;
  }
  self->alawBytes_ += size;
  return 0;
}

}  // namespace lumvara::cli
