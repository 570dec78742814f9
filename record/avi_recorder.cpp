#include "record/avi_recorder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "record/open_recordings.h"
#include "record/record_paths.h"

namespace lumvara {
namespace {

constexpr uint64_t kBytesPerMB = 1048576;
constexpr uint64_t kMsPerMinute = 60000;
constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();

// A text field of the request: up to its terminator, never past the field
// (a request without a terminator is cut at the field's end).
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

CAviRecorder::CAviRecorder() : CAviRecorder(RecorderEnvironment{}) {}

CAviRecorder::CAviRecorder(RecorderEnvironment environment) : env_(std::move(environment)) {}

CAviRecorder::~CAviRecorder() { Stop(); }

int CAviRecorder::Start(LocalRecordRequest request, int height, int width, int codec) {
  Stop();
  std::lock_guard<std::mutex> guard(writerLock_);
  request_ = request;
  width_ = width;
  height_ = height;
  codec_ = codec;
  if (!OpenFile(env_.clock.localTime())) return 0;

  rootPath_ = FieldText(request_.rootPath);
  ApplyLimits(request_);
  frameClockOrigin_ = env_.clock.tickMs();
  fileStartTick_ = frameClockOrigin_;
  videoFrames_ = 0;
  cover_ = request_.cover != 0;

  StorageSettings settings{rootPath_, reserveMB_, cover_, env_.storageCycle};
  manager_ = std::make_unique<CStorageManager>(settings, env_.freeSpace, freeSpaceMB_);
  // Measured before returning so that the first frames are not refused for
  // a figure nobody has taken yet.
  manager_->MeasureFreeSpace();
  manager_->Start();
  return 1;
}

bool CAviRecorder::OpenFile(const RecordLocalTime& now) {
  const std::string folder = DayCameraFolder(FieldText(request_.rootPath), now, FieldText(request_.cameraName));
  std::error_code error;
  if (!std::filesystem::exists(folder, error)) std::filesystem::create_directories(folder, error);

  AviVideoFormat format;
  format.fourcc = codec_ == kCodecMjpeg ? kFourCCMjpg : kFourCCH264;
  format.width = static_cast<uint32_t>(std::max(width_, 0));
  format.height = static_cast<uint32_t>(std::max(height_, 0));
  format.framesPerSecond = kFrameRate;
  const std::string path = RecordFileName(folder, now);
  // Never over an existing file: a name already taken (a second start in
  // the same millisecond) fails, and the next start picks a new name.
  // Registered as it is created, so that no storage manager deletes it.
  const bool created = OpenRecordings::CreateAndAdd(
      [&] {
        file_ = AviFile::Create(path, format);
        return file_ != nullptr;
      },
      path, &fileDevice_, &fileInode_);
  if (!created) return false;
  filePath_ = path;
  return true;
}

void CAviRecorder::ApplyLimits(const LocalRecordRequest& request) {
  reserveMB_ = std::max(request.reservedMB, kMinReserveMB);
  // Products that do not fit 32 bits are capped at the largest 32-bit
  // value rather than wrapping to a small limit.
  const uint64_t sizeBytes = request.fileSizeMB >= kMinFileSizeMB ? uint64_t{request.fileSizeMB} * kBytesPerMB
                                                                  : uint64_t{kMinFileSizeMB} * kBytesPerMB;
  sizeLimitBytes_ = static_cast<uint32_t>(std::min(sizeBytes, kMax32));
  const uint64_t timeMs = request.fileMinutes >= kMinFileMinutes ? uint64_t{request.fileMinutes} * kMsPerMinute
                                                                 : uint64_t{kMinFileMinutes} * kMsPerMinute;
  timeLimitMs_ = static_cast<uint32_t>(std::min(timeMs, kMax32));
}

int CAviRecorder::WriteVideo(const void* data, uint32_t length) {
  std::lock_guard<std::mutex> guard(writerLock_);
  if (!file_) return 0;
  if (reserveMB_ > freeSpaceMB_.load(std::memory_order_relaxed)) return 0;
  // The refused frame stays counted: every later frame is refused as well.
  videoBytes_ += length;
  if (videoBytes_ > sizeLimitBytes_) return 0;
  if (static_cast<uint32_t>(env_.clock.tickMs() - fileStartTick_) > timeLimitMs_) return 0;

  constexpr uint32_t kFramePeriodMs = 1000 / kFrameRate;
  const uint32_t due = static_cast<uint32_t>(env_.clock.tickMs() - frameClockOrigin_) / kFramePeriodMs;
  while (videoFrames_ < due) {
    file_->WriteVideo(nextVideoIndex_++, nullptr, 0);
    ++videoFrames_;
  }
  if (!file_->WriteVideo(nextVideoIndex_++, data, length)) return 0;
  ++videoFrames_;
  return 1;
}

int CAviRecorder::WriteAudio(const int16_t* samples) {
  std::lock_guard<std::mutex> guard(writerLock_);
  if (!file_ || !samples) return 0;
  if (!file_->WriteAudio(nextAudioIndex_, samples, kAudioBlockSamples)) return 0;
  nextAudioIndex_ += kAudioBlockSamples;
  return 1;
}

void CAviRecorder::Stop() {
  std::lock_guard<std::mutex> guard(writerLock_);
  CloseFile();
  width_ = 0;
  height_ = 0;
  nextVideoIndex_ = 0;
  nextAudioIndex_ = 0;
  fileStartTick_ = 0;
  videoBytes_ = 0;
  if (manager_) {
    manager_->Stop();
    manager_.reset();
  }
  DeleteIfShort();
}

void CAviRecorder::CloseFile() {
  if (!file_) return;
  file_->Close();
  file_.reset();
  OpenRecordings::Remove(fileDevice_, fileInode_);
  fileDevice_ = 0;
  fileInode_ = 0;
}

void CAviRecorder::DeleteIfShort() {
  if (filePath_.empty()) return;
  struct stat st {};
  if (::stat(filePath_.c_str(), &st) != 0) return;  // the path stays, as when it cannot be opened
  if (static_cast<uint64_t>(st.st_size) < kMinKeptFileBytes) ::unlink(filePath_.c_str());
  filePath_.clear();
}

std::string CAviRecorder::FilePath() const {
  std::lock_guard<std::mutex> guard(writerLock_);
  return filePath_;
}

uint32_t CAviRecorder::FreeSpaceMB() const { return freeSpaceMB_.load(std::memory_order_relaxed); }

uint32_t CAviRecorder::SizeLimitBytes() const {
  std::lock_guard<std::mutex> guard(writerLock_);
  return sizeLimitBytes_;
}

uint32_t CAviRecorder::TimeLimitMs() const {
  std::lock_guard<std::mutex> guard(writerLock_);
  return timeLimitMs_;
}

uint32_t CAviRecorder::ReserveMB() const {
  std::lock_guard<std::mutex> guard(writerLock_);
  return reserveMB_;
}

uint32_t CAviRecorder::VideoFrames() const {
  std::lock_guard<std::mutex> guard(writerLock_);
  return videoFrames_;
}

}  // namespace lumvara
