#include "record/storage_manager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "record/open_recordings.h"
#include "record/record_paths.h"

namespace lumvara {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsDotEntry(const char* name) { return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')); }

// The folder's birth time where the filesystem records one (ext4, xfs,
// btrfs, tmpfs), else the time of its last status change.
int64_t CreationTimeNs(const std::string& path) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &sx) != 0) return 0;
  const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

}  // namespace

CStorageManager::CStorageManager(StorageSettings settings, FreeSpaceSource source, std::atomic<uint32_t>& freeSpaceMB)
    : settings_(std::move(settings)), source_(std::move(source)), freeSpaceMB_(freeSpaceMB) {}

CStorageManager::~CStorageManager() { Stop(); }

void CStorageManager::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(stopLock_);
    stopRequested_ = false;
  }
  thread_ = std::thread(&CStorageManager::Run, this);
}

void CStorageManager::Stop() {
  {
    std::lock_guard<std::mutex> guard(stopLock_);
    stopRequested_ = true;
  }
  stopSignal_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool CStorageManager::MeasureFreeSpace() {
  const std::optional<uint64_t> bytes = source_ ? source_(settings_.rootPath) : std::nullopt;
  lastQueryFailed_ = !bytes;
  freeSpaceMB_.store(bytes ? FreeBytesToMB(*bytes) : 0, std::memory_order_relaxed);
  return bytes.has_value();
}

void CStorageManager::MakeRoomIfShort() {
  if (!settings_.cover || lastQueryFailed_) return;
  if (freeSpaceMB_.load(std::memory_order_relaxed) >= settings_.reserveMB) return;
  DeleteOldestDayFolder(RecordsFolder(settings_.rootPath));
}

void CStorageManager::Run() {
  std::unique_lock<std::mutex> lock(stopLock_);
  while (!stopRequested_) {
    lock.unlock();
    MakeRoomIfShort();
    lock.lock();
    if (stopSignal_.wait_for(lock, settings_.cycle, [this] { return stopRequested_; })) return;
    lock.unlock();
    MeasureFreeSpace();
    lock.lock();
  }
}

std::vector<DayFolder> ListDayFolders(const std::string& recordsFolder) {
  std::vector<DayFolder> folders;
  DirHandle dir(::opendir(recordsFolder.c_str()));
  if (!dir) return folders;
  while (dirent* entry = ::readdir(dir.get())) {
    if (IsDotEntry(entry->d_name)) continue;
    std::string path = recordsFolder + "/" + entry->d_name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    folders.push_back(DayFolder{CreationTimeNs(path), std::move(path)});
  }
  SortOldestFirst(folders);
  return folders;
}

void SortOldestFirst(std::vector<DayFolder>& folders) {
  std::sort(folders.begin(), folders.end(), [](const DayFolder& a, const DayFolder& b) {
    return a.createdNs != b.createdNs ? a.createdNs < b.createdNs : a.path < b.path;
  });
}

std::string DeleteOldestDayFolder(const std::string& recordsFolder) {
  std::vector<DayFolder> folders = ListDayFolders(recordsFolder);
  if (folders.empty()) return {};
  DeleteFolderTree(folders.front().path);
  return folders.front().path;
}

void DeleteFolderTree(const std::string& path) {
  {
    DirHandle dir(::opendir(path.c_str()));
    if (!dir) return;
    while (dirent* entry = ::readdir(dir.get())) {
      if (IsDotEntry(entry->d_name)) continue;
      const std::string child = path + "/" + entry->d_name;
      struct stat st {};
      if (::lstat(child.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        DeleteFolderTree(child);
      } else {
        OpenRecordings::UnlinkUnlessOpen(child);
      }
    }
  }
  ::rmdir(path.c_str());
}

}  // namespace lumvara
