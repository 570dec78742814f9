#include "record/record_paths.h"

#include <cstdio>

namespace lumvara {

std::string RecordsFolder(const std::string& rootPath) { return rootPath + "/RecordFiles"; }

std::string DayCameraFolder(const std::string& rootPath, const RecordLocalTime& t, const std::string& cameraName) {
  char day[32];
  std::snprintf(day, sizeof day, "/%04d%02d%02d/", t.year, t.month, t.day);
  return RecordsFolder(rootPath) + day + cameraName;
}

std::string RecordFileName(const std::string& folder, const RecordLocalTime& t) {
  char name[64];
  std::snprintf(name, sizeof name, "/%04d%02d%02d_%02d%02d%02d_%d.avi", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return folder + name;
}

}  // namespace lumvara
