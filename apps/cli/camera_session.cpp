#include "apps/cli/camera_session.h"

#include <lumvara/device.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace lumvara::cli {

namespace {

// The result callback carries no context; the one session that listens
// for parameters is reached through this pointer.
std::atomic<CameraSession*> gParamSession{nullptr};

constexpr size_t kTextField = 64;

}  // namespace

bool parseHostPort(const std::string& text, CameraTarget& target, std::string& error) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    error = "expected HOST:PORT, got '" + text + "'";
    return false;
  }
  const std::string portText = text.substr(colon + 1);
  if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5) {
    error = "port must be a number, got '" + portText + "'";
    return false;
  }
  const int port = std::stoi(portText);
  if (port < 1 || port > 65535) {
    error = "port must lie in 1..65535, got " + portText;
    return false;
  }
  target.host = text.substr(0, colon);
  target.port = port;
  return true;
}

bool checkTargetFields(const CameraTarget& target, std::string& error) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"host", &target.host}, {"user", &target.user}, {"password", &target.pwd}};
  for (const auto& [name, value] : fields) {
    if (value->size() >= kTextField) {
      error = std::string(name) + " is longer than 63 bytes";
      return false;
    }
    if (value->find_first_of("\r\n") != std::string::npos) {
      error = std::string(name) + " holds a line break";
      return false;
    }
  }
  return true;
}

CameraSession::CameraSession(const CameraTarget& target) {
  DeviceConnectInfo info;
  std::memset(&info, 0, sizeof info);
  std::strncpy(info.user, target.user.c_str(), sizeof info.user - 1);
  std::strncpy(info.pwd, target.pwd.c_str(), sizeof info.pwd - 1);
  std::strncpy(info.host, target.host.c_str(), sizeof info.host - 1);
  info.port = target.port;
  handle_ = device_net_work_createInstance(info);
  if (handle_ != nullptr) {
    device_net_work_set_event_callback(handle_, onEvent, this);
  }
}

CameraSession::~CameraSession() {
  if (handle_ != nullptr) {
    device_net_work_destroyInstance(handle_);
  }
  CameraSession* self = this;
  gParamSession.compare_exchange_strong(self, nullptr);
}

int CameraSession::onEvent(int event, void* context) {
  auto* self = static_cast<CameraSession*>(context);
  {
    std::lock_guard guard(self->lock_);
    self->events_.push_back(event);
  }
  self->changed_.notify_all();
  return 0;
}

int CameraSession::waitForEvent(std::initializer_list<int> codes, int timeoutMs) {
  std::unique_lock guard(lock_);
  int found = -1;
  changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
    for (const int event : events_) {
      if (std::find(codes.begin(), codes.end(), event) != codes.end()) {
        found = event;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool CameraSession::sawEvent(int code) {
  std::lock_guard guard(lock_);
  return std::find(events_.begin(), events_.end(), code) != events_.end();
}

void CameraSession::listenForParams() {
  gParamSession = this;
  device_net_work_param_callback(handle_, onParamData, onParamResult, this);
}

int CameraSession::onParamData(int code, const void* record, int size, void* context) {
  auto* self = static_cast<CameraSession*>(context);
  const auto* bytes = static_cast<const uint8_t*>(record);
  {
    std::lock_guard guard(self->lock_);
    self->records_[code].assign(bytes, bytes + (size > 0 ? size : 0));
  }
  self->changed_.notify_all();
  return 0;
}

int CameraSession::onParamResult(int code, int result) {
  CameraSession* self = gParamSession.load();
  if (self == nullptr) {
    return 0;
  }
  {
    std::lock_guard guard(self->lock_);
    self->results_[code] = result;
  }
  self->changed_.notify_all();
  return 0;
}

bool CameraSession::waitForRecord(int code, std::vector<uint8_t>& record, int timeoutMs) {
  std::unique_lock guard(lock_);
  if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return records_.count(code) > 0; })) {
    return false;
  }
  record = records_[code];
  return true;
}

bool CameraSession::waitForResult(int code, int& result, int timeoutMs) {
  std::unique_lock guard(lock_);
  if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return results_.count(code) > 0; })) {
    return false;
  }
  result = results_[code];
  return true;
}

void CameraSession::forgetRecord(int code) {
  std::lock_guard guard(lock_);
  records_.erase(code);
}

}  // namespace lumvara::cli
