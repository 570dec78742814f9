// SD-card recordings: listing them for a time span, and playing one back.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "net/device/record_dates.h"
#include "net/device/tcp_net_device.h"
#include "net/transport/camera_connect.h"
#include "net/transport/http_request.h"
#include "net/transport/http_response.h"
#include "net/transport/http_values.h"

namespace lumvara {
namespace {

constexpr size_t kRecordNameSize = 256;  // names up to 255 characters
constexpr size_t kRecordPrefixSize = 128;
constexpr size_t kRecordPrefixChars = 8;
constexpr int kPlaybackStreamId = 4;
// A body of at most 128000 bytes names far fewer recordings than this; a
// larger count is the camera's error and would keep the search thread
// reporting empty entries for hours.
constexpr int kMaxRecordEntries = 4096;

}  // namespace

int CTcpNetDevice::recordFileSearchList(int startYear, int startMonth, int startDay, int startHour, int startMinute,
                                        int startSecond, int endYear, int endMonth, int endDay, int endHour,
                                        int endMinute, int endSecond, RecordFileCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(searchLock_);
  // One search at a time: a new one waits for the previous one to end.
  if (searchThread_.joinable()) searchThread_.join();
  const int dates[12] = {startYear, startMonth, startDay, startHour, startMinute, startSecond,
                         endYear,   endMonth,   endDay,   endHour,   endMinute,   endSecond};
  std::copy(std::begin(dates), std::end(dates), searchDates_);
  {
    std::lock_guard<std::mutex> callbacks(callbackLock_);
    recordFile_ = {callback, context};
  }
  searchThread_ = std::thread([this] { recordSearch(); });
  return 1;
}

void CTcpNetDevice::recordSearch() {
  const auto start = localCalendarSeconds(searchDates_);
  const auto end = localCalendarSeconds(searchDates_ + 6);
  if (!start || !end) return;

  searchConnection_.close();
  if (!waitForAddress(kConnectTimeoutMs) ||
      !searchConnection_.connect(resolvedAddress().c_str(), info_.port, deviceStop_.fd())) {
    return;
  }
  const auto line =
      formatRequestLine("GET get_record_file.cgi?loginuse=%s&loginpas=%s&startdate=%lld&enddate=%lld HTTP/1.1\r\n",
                        info_.user, info_.pwd, static_cast<long long>(*start), static_cast<long long>(*end));
  if (!line || !commonHeader_ || sendRequest(searchConnection_, *line, *commonHeader_) != 1) {
    return;
  }
  HttpResponse response;
  if (readResponse(searchConnection_.socket(), response, deviceStop_.fd()) <= 0) return;
  const std::string& body = response.body;

  int count = 0;
  intValue("var record_num0=", body, count);
  count = std::min(count, kMaxRecordEntries);

  const auto slot = snapshot(recordFile_);
  char key[48];
  for (int i = 0; i < count && !workerStop_.load(); ++i) {
    char name[kRecordNameSize] = {};
    std::snprintf(key, sizeof key, "record_name0[%d]=", i);
    stringValue(key, body, name, sizeof name);
    int size = 0;
    std::snprintf(key, sizeof key, "record_size0[%d]=", i);
    intValue(key, body, size);
    char prefix[kRecordPrefixSize] = {};
    std::memcpy(prefix, name, std::min(std::strlen(name), kRecordPrefixChars));
    if (slot.callback != nullptr) slot.callback(name, prefix, size, slot.context);
  }
}

int CTcpNetDevice::recordFileStart(const char* fileName, DeviceDataCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(playbackLock_);
  playbackConnection_.close();
  {
    std::lock_guard<std::mutex> callbacks(callbackLock_);
    playbackData_ = {callback, context};
  }
  // A name the request cannot carry whole is refused rather than cut: a
  // cut name would play some other recording.
  if (fileName == nullptr || std::strlen(fileName) > kMaxPlaybackName) return 0;
  playbackName_ = fileName;
  return playbackRequest(0) ? 1 : 0;
}

int CTcpNetDevice::recordFileSetPos(int offset) {
  std::lock_guard<std::mutex> guard(playbackLock_);
  playbackConnection_.close();
  return playbackRequest(offset) ? 1 : 0;
}

int CTcpNetDevice::recordFileStop() {
  std::lock_guard<std::mutex> guard(playbackLock_);
  playbackConnection_.close();
  return 1;
}

bool CTcpNetDevice::playbackRequest(int offset) {
  if (!waitForAddress(kConnectTimeoutMs) ||
      !playbackConnection_.connect(resolvedAddress().c_str(), info_.port, deviceStop_.fd())) {
    return false;
  }
  const auto line =
      formatRequestLine("GET /livestream.cgi?user=%s&pwd=%s&streamid=%d&filename=%s&offset=%d HTTP/1.1\r\n", info_.user,
                        info_.pwd, kPlaybackStreamId, playbackName_.c_str(), offset);
  if (!sendRequestOn(playbackConnection_, line)) {
    playbackConnection_.close();
    return false;
  }
  return true;
}

void CTcpNetDevice::playbackHandler(const uint8_t* frame, int totalLength, void* context) {
  auto* device = static_cast<CTcpNetDevice*>(context);
  const auto slot = device->snapshot(device->playbackData_);
  if (slot.callback != nullptr) slot.callback(frame, totalLength, slot.context);
}

}  // namespace lumvara
