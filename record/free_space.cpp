#include "record/free_space.h"

#include <sys/statvfs.h>

#include <limits>

namespace lumvara {

std::optional<uint64_t> StatvfsFreeBytes(const std::string& path) {
  struct statvfs fs {};
  if (::statvfs(path.c_str(), &fs) != 0) return std::nullopt;
  return static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
}

uint32_t FreeBytesToMB(uint64_t bytes) {
  const uint64_t mb = bytes >> 20;
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(mb > kMax ? kMax : mb);
}

}  // namespace lumvara
