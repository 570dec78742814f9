#pragma once
// Where the storage manager learns how much room the recording disk has.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lumvara {

// Free bytes on the filesystem that holds path; nullopt when it cannot be
// asked (missing folder, removed disk).
using FreeSpaceSource = std::function<std::optional<uint64_t>(const std::string& path)>;

// statvfs: the blocks this process may still write (f_bavail), so that the
// figure never counts space reserved for the superuser that our writes
// would be refused.
std::optional<uint64_t> StatvfsFreeBytes(const std::string& path);

// Bytes to whole megabytes, held in 32 bits (saturating; never wraps to a
// small figure on a very large volume).
uint32_t FreeBytesToMB(uint64_t bytes);

}  // namespace lumvara
