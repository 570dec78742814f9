#include "net/device/live_device_list.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace lumvara {
namespace {

// The lock is held only for the walk, the append and the removal; nothing is
// called under it.
std::mutex& listLock() {
  static std::mutex lock;
  return lock;
}

std::vector<CNetDevice*>& liveDevices() {
  static std::vector<CNetDevice*> devices;
  return devices;
}

}  // namespace

void addLiveDevice(CNetDevice* device) {
  if (device == nullptr) return;
  std::lock_guard<std::mutex> guard(listLock());
  liveDevices().push_back(device);
}

bool removeLiveDevice(CNetDevice* device) {
  std::lock_guard<std::mutex> guard(listLock());
  auto& devices = liveDevices();
  auto found = std::find(devices.begin(), devices.end(), device);
  if (found == devices.end()) return false;
  devices.erase(found);
  return true;
}

int isLiveDevice(const void* device) {
  if (device == nullptr) return 0;
  std::lock_guard<std::mutex> guard(listLock());
  const auto& devices = liveDevices();
  return std::find(devices.begin(), devices.end(), device) != devices.end() ? 1 : 0;
}

}  // namespace lumvara
