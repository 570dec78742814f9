#pragma once
// The storage manager: a thread beside each open recording file. It keeps
// the recorder's free-space figure current (measured when the file opens,
// then every cycle, about 5 s) and, when the recording may cover old days
// and the free space is below the reserve, deletes the oldest day folder
// under <root>/RecordFiles, one folder per cycle.
//
// Several players may run managers over the same tree at once; nothing
// coordinates them: a folder another manager removed just disappears from
// the next listing.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/free_space.h"

namespace lumvara {

struct StorageSettings {
  std::string rootPath;  // recording root; the day folders lie in rootPath/RecordFiles
  uint32_t reserveMB = 200;
  bool cover = false;
  std::chrono::milliseconds cycle{5000};
};

class CStorageManager {
 public:
  // freeSpaceMB is the recorder's figure; the manager is its only writer
  // while it runs. It must outlive the manager.
  CStorageManager(StorageSettings settings, FreeSpaceSource source, std::atomic<uint32_t>& freeSpaceMB);
  ~CStorageManager();  // Stop
  CStorageManager(const CStorageManager&) = delete;
  CStorageManager& operator=(const CStorageManager&) = delete;

  // Starts the thread. Its first cycle makes room at once when needed; the
  // caller is expected to have measured already (MeasureFreeSpace).
  void Start();
  // Ends the thread: returns within a few milliseconds unless a folder is
  // being deleted at that moment. Safe to call more than once.
  void Stop();

  // Queries the disk and stores the figure in megabytes. When the query
  // fails the figure becomes 0 (nothing is known to be free, so video is
  // refused) and false is returned.
  bool MeasureFreeSpace();

  // One make-room step: when cover is set and the figure is below the
  // reserve, deletes the oldest day folder. Skipped after a failed query:
  // recordings are never deleted on an unknown figure.
  void MakeRoomIfShort();

 private:
  void Run();

  const StorageSettings settings_;
  const FreeSpaceSource source_;
  std::atomic<uint32_t>& freeSpaceMB_;
  bool lastQueryFailed_ = false;  // manager thread only (and before Start)

  std::mutex stopLock_;
  std::condition_variable stopSignal_;
  bool stopRequested_ = false;  // under stopLock_
  std::thread thread_;
};

// The day folders directly under recordsFolder, oldest first: by creation
// time (birth time where the filesystem records it, else the last status
// change), then by path. Files and symbolic links are never candidates.
struct DayFolder {
  int64_t createdNs = 0;  // 0 when the folder's status cannot be read
  std::string path;
};
std::vector<DayFolder> ListDayFolders(const std::string& recordsFolder);
void SortOldestFirst(std::vector<DayFolder>& folders);

// Deletes the oldest day folder under recordsFolder, if any. Returns the
// path chosen (empty when there was none).
std::string DeleteOldestDayFolder(const std::string& recordsFolder);

// Deletes a folder tree depth first. What cannot be deleted stays (and so
// do the folders holding it): files being recorded by this process, files
// without permission. Symbolic links are removed, never followed.
void DeleteFolderTree(const std::string& path);

}  // namespace lumvara
