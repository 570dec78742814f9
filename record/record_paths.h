#pragma once
// Names of the recording tree: root/RecordFiles/YYYYMMDD/camera/
// YYYYMMDD_HHMMSS_m.avi, dates and times local, the millisecond unpadded.

#include <string>

#include "record/record_clock.h"

namespace lumvara {

std::string RecordsFolder(const std::string& rootPath);
std::string DayCameraFolder(const std::string& rootPath, const RecordLocalTime& t, const std::string& cameraName);
std::string RecordFileName(const std::string& folder, const RecordLocalTime& t);

}  // namespace lumvara
