#include "apps/webhost/record_list.h"

#include <lumvara/device.h>

#include <cstring>
#include <mutex>

namespace lumvara::webhost {
namespace {

struct Collected {
  std::mutex mutex;
  std::vector<RecordEntry> files;
};

int OnFile(const char* name, const char*, int size, void* context) {
  auto* c = static_cast<Collected*>(context);
  std::lock_guard lock(c->mutex);
  c->files.push_back(RecordEntry{name != nullptr ? name : "", size});
  return 0;
}

void Copy(char* field, size_t capacity, const std::string& text) { std::strncpy(field, text.c_str(), capacity - 1); }

}  // namespace

bool ListRecords(const PageRequest& r, std::vector<RecordEntry>* out, std::string* error) {
  DeviceConnectInfo info;
  std::memset(&info, 0, sizeof info);
  Copy(info.user, sizeof info.user, r.user);
  Copy(info.pwd, sizeof info.pwd, r.pwd);
  Copy(info.host, sizeof info.host, r.ip);
  info.port = r.port;
  void* device = device_net_work_createInstance(info);
  if (device == nullptr) {
    *error = "cannot create a device for that address";
    return false;
  }
  Collected collected;
  const CalendarTime& f = r.from;
  const CalendarTime& t = r.to;
  device_record_file_search_list(device, f.year, f.month, f.day, f.hour, f.minute, f.second, t.year, t.month, t.day,
                                 t.hour, t.minute, t.second, OnFile, &collected);
  device_record_file_search_list(device, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, OnFile, &collected);
  device_net_work_destroyInstance(device);
  std::lock_guard lock(collected.mutex);
  *out = std::move(collected.files);
  return true;
}

}  // namespace lumvara::webhost
