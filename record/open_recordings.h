#pragma once
// The files the recorders of this process are writing right now. On Linux an
// open file can be unlinked, and its recording would then vanish when it is
// closed; the storage manager asks here before deleting a file so that the
// file being recorded always survives (its day folder then stays too).
// Files are known by device and inode, whatever path spelled them.

#include <sys/types.h>

namespace lumvara {

class OpenRecordings {
 public:
  static void Add(dev_t device, ino_t inode);
  static void Remove(dev_t device, ino_t inode);
  static bool Contains(dev_t device, ino_t inode);
};

}  // namespace lumvara
