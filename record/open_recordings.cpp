#include "record/open_recordings.h"

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

void OpenRecordings::Add(dev_t device, ino_t inode) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.files.emplace_back(device, inode);
}

void OpenRecordings::Remove(dev_t device, ino_t inode) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = std::find(r.files.begin(), r.files.end(), std::make_pair(device, inode));
  if (it != r.files.end()) r.files.erase(it);
}

bool OpenRecordings::Contains(dev_t device, ino_t inode) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return std::find(r.files.begin(), r.files.end(), std::make_pair(device, inode)) != r.files.end();
}

}  // namespace lumvara
