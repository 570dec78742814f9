#include "platform/avi/avi_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include "platform/avi/avi_header_patch.h"

namespace lumvara {
namespace {

// Large enough that a 720p frame goes to the disk in a few system calls.
constexpr int kIoBufferSize = 256 * 1024;
constexpr int kAudioBitsPerSample = 16;
constexpr int kAudioBlockAlign = 2;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using IoWriteBuffer = const uint8_t*;
#else
using IoWriteBuffer = uint8_t*;
#endif

}  // namespace

struct AviFile::Impl {
  int fd = -1;
  int64_t position = 0;  // where the muxer writes next
  int64_t end = 0;       // length of the file
  bool failed = false;
  bool closed = false;
  AviVideoFormat videoFormat;
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  AVPacket* packet = nullptr;

  ~Impl() {
    FreeMuxer();
    if (fd >= 0) ::close(fd);
  }

  void FreeMuxer() {
    if (format) avformat_free_context(format);
    format = nullptr;
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    av_packet_free(&packet);
  }

  static int Write(void* opaque, IoWriteBuffer data, int size) {
    auto* self = static_cast<Impl*>(opaque);
    int done = 0;
    while (done < size) {
      ssize_t n = ::pwrite(self->fd, data + done, static_cast<size_t>(size - done), self->position);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        self->failed = true;
        return n < 0 ? AVERROR(errno) : AVERROR(EIO);
      }
      done += static_cast<int>(n);
      self->position += n;
    }
    self->end = std::max(self->end, self->position);
    return size;
  }

  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<Impl*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE:
        return self->end;
      case SEEK_SET:
        break;
      case SEEK_CUR:
        offset += self->position;
        break;
      case SEEK_END:
        offset += self->end;
        break;
      default:
        return AVERROR(EINVAL);
    }
    if (offset < 0) return AVERROR(EINVAL);
    self->position = offset;
    return offset;
  }

  bool OpenMuxer() {
    packet = av_packet_alloc();
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!packet || !buffer) {
      av_free(buffer);
      return false;
    }
    io = avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &Impl::Write, &Impl::Seek);
    if (!io) {
      av_free(buffer);
      return false;
    }
    if (avformat_alloc_output_context2(&format, nullptr, "avi", nullptr) < 0) return false;
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    return AddVideoStream() && AddAudioStream() && avformat_write_header(format, nullptr) >= 0 && !Failed();
  }

  bool AddVideoStream() {
    video = avformat_new_stream(format, nullptr);
    if (!video) return false;
    AVCodecParameters* par = video->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = videoFormat.fourcc == kFourCCMjpg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_H264;
    par->codec_tag = videoFormat.fourcc;
    // The muxer refuses a stream without dimensions; a 0 x 0 file is
    // created as 1 x 1 and its headers are set to 0 x 0 when it is closed.
    par->width = static_cast<int>(std::max<uint32_t>(videoFormat.width, 1));
    par->height = static_cast<int>(std::max<uint32_t>(videoFormat.height, 1));
    par->bits_per_coded_sample = 24;
    const int fps = static_cast<int>(videoFormat.framesPerSecond);
    video->time_base = AVRational{1, fps};
    video->avg_frame_rate = AVRational{fps, 1};
    video->r_frame_rate = AVRational{fps, 1};
    return true;
  }

  bool AddAudioStream() {
    audio = avformat_new_stream(format, nullptr);
    if (!audio) return false;
    AVCodecParameters* par = audio->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = kAviAudioRate;
    av_channel_layout_default(&par->ch_layout, 1);
    par->bits_per_coded_sample = kAudioBitsPerSample;
    par->block_align = kAudioBlockAlign;
    par->bit_rate = int64_t{kAviAudioRate} * kAudioBitsPerSample;
    audio->time_base = AVRational{1, static_cast<int>(kAviAudioRate)};
    return true;
  }

  bool Failed() const { return failed || (io && io->error < 0); }

  bool WritePacket(AVStream* stream, int64_t ts, AVRational base, const void* data, size_t size) {
    if (closed || Failed() || size > static_cast<size_t>(INT32_MAX)) return false;
    packet->data = static_cast<uint8_t*>(const_cast<void*>(data));
    packet->size = static_cast<int>(size);
    packet->stream_index = stream->index;
    packet->pts = packet->dts = av_rescale_q(ts, base, stream->time_base);
    packet->duration = 0;
    packet->flags = AV_PKT_FLAG_KEY;
    const int result = av_write_frame(format, packet);
    packet->data = nullptr;
    packet->size = 0;
    if (result < 0) failed = true;
    return !Failed();
  }
};

std::unique_ptr<AviFile> AviFile::Create(const std::string& path, const AviVideoFormat& video) {
  if (video.framesPerSecond == 0 || video.framesPerSecond > 1000 || video.width > 0xFFFF || video.height > 0xFFFF)
    return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->videoFormat = video;
  impl->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (impl->fd < 0) return nullptr;
  if (!impl->OpenMuxer()) {
    impl->FreeMuxer();
    ::unlink(path.c_str());
    return nullptr;
  }
  return std::unique_ptr<AviFile>(new AviFile(std::move(impl)));
}

AviFile::AviFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AviFile::~AviFile() { Close(); }

bool AviFile::WriteVideo(uint32_t index, const void* data, size_t size) {
  const AVRational base{1, static_cast<int>(impl_->videoFormat.framesPerSecond)};
  return impl_->WritePacket(impl_->video, index, base, size ? data : nullptr, size);
}

bool AviFile::WriteAudio(uint32_t sampleIndex, const int16_t* samples, size_t count) {
  if (count == 0) return !impl_->closed && !impl_->Failed();
  const AVRational base{1, static_cast<int>(kAviAudioRate)};
  return impl_->WritePacket(impl_->audio, sampleIndex, base, samples, count * sizeof(int16_t));
}

bool AviFile::Close() {
  Impl& d = *impl_;
  if (d.closed) return !d.failed;
  d.closed = true;
  if (av_write_trailer(d.format) < 0) d.failed = true;
  avio_flush(d.io);
  if (d.io->error < 0) d.failed = true;
  d.FreeMuxer();
  if (!d.failed && !PatchAviHeaders(d.fd, d.videoFormat)) d.failed = true;
  if (::close(d.fd) != 0) d.failed = true;
  d.fd = -1;
  return !d.failed;
}

uint64_t AviFile::BytesWritten() const { return static_cast<uint64_t>(impl_->end); }

}  // namespace lumvara
