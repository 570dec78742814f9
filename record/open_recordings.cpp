#include "record/open_recordings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace lumvara {
namespace {

struct Registry {
  std::mutex lock;
  std::vector<std::pair<dev_t, ino_t>> files;  // a handful: one per recording player
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

bool OpenRecordings::CreateAndAdd(const std::function<bool()>& create, const std::string& path, dev_t* device,
                                  ino_t* inode) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  if (!create()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    r.files.emplace_back(st.st_dev, st.st_ino);
    *device = st.st_dev;
    *inode = st.st_ino;
  }
  return true;
}

bool OpenRecordings::UnlinkUnlessOpen(const std::string& path) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (std::find(r.files.begin(), r.files.end(), std::make_pair(st.st_dev, st.st_ino)) != r.files.end()) return false;
  return ::unlink(path.c_str()) == 0;
}

void OpenRecordings::Remove(dev_t device, ino_t inode) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = std::find(r.files.begin(), r.files.end(), std::make_pair(device, inode));
  if (it != r.files.end()) r.files.erase(it);
}

}  // namespace lumvara
