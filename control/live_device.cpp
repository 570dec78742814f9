// Camera devices the control creates. Kept apart from the player headers:
// the device's transport layer and the player interface each name their own
// frame block size.
#include <memory>

#include "control/lumvara_ctrl.h"
#include "net/device/live_device_list.h"
#include "net/device/tcp_net_device.h"
#include "platform/log/log.h"

namespace lumvara::control {

CNetDevice* CreateLiveDevice(const DeviceConnectInfo& info) {
  try {
    auto device = std::make_unique<CTcpNetDevice>(info);
    addLiveDevice(device.get());
    // From here the live-device list holds it; device_net_work_destroyInstance frees it.
    return device.release();
  } catch (...) {
    logf("control: the camera device cannot be created");
    return nullptr;
  }
}

}  // namespace lumvara::control
