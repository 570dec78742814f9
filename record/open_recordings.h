#pragma once
// The files the recorders of this process are writing right now. On Linux an
// open file can be unlinked, and its recording would then vanish when it is
// closed; the storage manager asks here before deleting a file so that the
// file being recorded always survives (its day folder then stays too).
// Files are known by device and inode, whatever path spelled them.

#include <sys/types.h>

#include <functional>
#include <string>

namespace lumvara {

class OpenRecordings {
 public:
  // Runs create(), which makes the file at path, and registers that file,
  // as one step: no deletion can come between the two. False when create()
  // fails. The file's identity goes to *device and *inode for Remove.
  static bool CreateAndAdd(const std::function<bool()>& create, const std::string& path, dev_t* device, ino_t* inode);
  static void Remove(dev_t device, ino_t inode);
  // Unlinks path unless it is a file being recorded. False when it stays.
  static bool UnlinkUnlessOpen(const std::string& path);
};

}  // namespace lumvara
