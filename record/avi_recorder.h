#pragma once
// CAviRecorder: writes one camera's live stream to a sequence of AVI files,
// rootPath/RecordFiles/YYYYMMDD/cameraName/YYYYMMDD_HHMMSS_m.avi. A file
// ends when its video payload would pass the size limit, when it is older
// than the time limit, or when free space drops below the reserve: the
// write then returns 0 and the player stops and starts the recorder again,
// which opens the next file.
//
// Video runs on a fixed 25 fps clock from the moment the file opens: when
// the camera sends fewer frames, empty samples hold the time line; when it
// sends more, every frame is written and the file plays slower.
//
// Threads: Start, Stop and the writes come from the player's receive thread
// and from its caller's thread; the player serialises them with its record
// lock and the writer lock serialises them again here. The storage manager
// thread only stores the free-space figure.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <lumvara/record.h>

#include "platform/avi/avi_file.h"
#include "record/free_space.h"
#include "record/record_clock.h"
#include "record/storage_manager.h"

namespace lumvara {

// What the recorder reads from the outside world; tests replace it.
struct RecorderEnvironment {
  RecordClock clock = RecordClock::System();
  FreeSpaceSource freeSpace = StatvfsFreeBytes;
  std::chrono::milliseconds storageCycle{5000};
};

class CAviRecorder {
 public:
  static constexpr int kCodecH264 = 0;
  static constexpr int kCodecMjpeg = 1;
  static constexpr uint32_t kFrameRate = 25;
  static constexpr uint32_t kAudioBlockSamples = 1024;  // one decoded ADPCM frame
  static constexpr uint32_t kMinFileSizeMB = 100;
  static constexpr uint32_t kMinFileMinutes = 5;
  static constexpr uint32_t kMinReserveMB = 200;
  // Files shorter than this at Stop are deleted: left over from failed
  // restarts or recordings stopped at once.
  static constexpr uint64_t kMinKeptFileBytes = 32768;

  CAviRecorder();
  explicit CAviRecorder(RecorderEnvironment environment);
  ~CAviRecorder();  // Stop
  CAviRecorder(const CAviRecorder&) = delete;
  CAviRecorder& operator=(const CAviRecorder&) = delete;

  // Stops any file still open, then opens a new one and starts its storage
  // manager. The free space is measured before this returns. 1 when a file
  // is open and recording, 0 otherwise. codec: kCodecH264 or kCodecMjpeg.
  int Start(LocalRecordRequest request, int height, int width, int codec);

  // One stream frame's payload, exactly as received. 1 when written; 0 when
  // the file is finished (space, size or time) or the write failed.
  int WriteVideo(const void* data, uint32_t length);

  // kAudioBlockSamples signed 16-bit samples, written as one chunk at the
  // next sample positions. 1 when written, 0 when no file is open or the
  // write failed. Not subject to the file limits.
  int WriteAudio(const int16_t* samples);

  // Ends the current file, if any; deletes it when it is shorter than
  // kMinKeptFileBytes.
  void Stop();

  // For the player and tests.
  std::string FilePath() const;     // the current file; empty when none
  uint32_t FreeSpaceMB() const;     // last measured figure
  uint32_t SizeLimitBytes() const;  // limits of the current file
  uint32_t TimeLimitMs() const;
  uint32_t ReserveMB() const;
  uint32_t VideoFrames() const;  // samples written, fillers included

 private:
  void ApplyLimits(const LocalRecordRequest& request);
  bool OpenFile(const RecordLocalTime& now);
  void CloseFile();
  void DeleteIfShort();

  const RecorderEnvironment env_;
  mutable std::mutex writerLock_;

  // Everything below is guarded by writerLock_, except freeSpaceMB_.
  int width_ = 0;
  int height_ = 0;
  int codec_ = kCodecH264;
  LocalRecordRequest request_{};
  std::unique_ptr<CStorageManager> manager_;
  std::string rootPath_;
  bool cover_ = false;
  uint32_t reserveMB_ = 0;
  std::atomic<uint32_t> freeSpaceMB_{0};  // written by the storage manager
  uint32_t timeLimitMs_ = 0;
  uint32_t fileStartTick_ = 0;
  uint32_t sizeLimitBytes_ = 0;
  uint64_t videoBytes_ = 0;  // 64-bit: a limit near 4 GB must not wrap
  uint32_t frameClockOrigin_ = 0;
  uint32_t videoFrames_ = 0;
  std::string filePath_;
  dev_t fileDevice_ = 0;
  ino_t fileInode_ = 0;
  std::unique_ptr<AviFile> file_;
  uint32_t nextVideoIndex_ = 0;
  uint32_t nextAudioIndex_ = 0;
};

}  // namespace lumvara
