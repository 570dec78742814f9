#include "net/device/tcp_net_device.h"

#include <cstring>

#include "net/transport/camera_connect.h"
#include "net/transport/http_request.h"
#include "platform/sockets/socket_ops.h"

namespace lumvara {
namespace {

// A caller's record may hold texts that fill their whole field; the device's
// copy always ends each one inside its field.
DeviceConnectInfo terminatedCopy(const DeviceConnectInfo& info) {
  DeviceConnectInfo copy = info;
  copy.user[sizeof copy.user - 1] = '\0';
  copy.pwd[sizeof copy.pwd - 1] = '\0';
  copy.host[sizeof copy.host - 1] = '\0';
  std::memset(copy.reserved, 0, sizeof copy.reserved);
  return copy;
}

}  // namespace

CTcpNetDevice::CTcpNetDevice(const DeviceConnectInfo& info, HostResolver resolver)
    : info_(terminatedCopy(info)),
      commonHeader_(buildCommonHeaderBlock(info_.host, info_.port)),
      hostResolver_(resolver ? std::move(resolver) : systemHostResolver()),
      resolver_(std::make_unique<AddressResolver>(info_.host, hostResolver_)),
      recordArea_(sizeof(WifiScanResult)) {
  // Connections are only ever given the resolved dotted address, so their
  // own resolver is never asked; it is set all the same so that nothing
  // can reach the system lookup behind an injected one.
  commandConnection_.setResolver(hostResolver_);
  searchConnection_.setResolver(hostResolver_);
  liveConnection_.setResolver(hostResolver_);
  audioConnection_.setResolver(hostResolver_);
  playbackConnection_.setResolver(hostResolver_);
  liveConnection_.setFrameHandler(&CTcpNetDevice::liveDispatcher, this);
  audioConnection_.setFrameHandler(&CTcpNetDevice::audioHandler, this);
  playbackConnection_.setFrameHandler(&CTcpNetDevice::playbackHandler, this);

  resolver_->start();
  worker_ = std::thread([this] { commandWorker(); });
}

CTcpNetDevice::~CTcpNetDevice() {
  workerStop_.store(true);
  deviceStop_.set();
  // A resolver blocked in a name lookup is left behind after 100 ms; it
  // holds none of the device.
  resolver_->stop(100);

  // Callers stop the live stream first; a keep-alive thread still running
  // is stopped here rather than left to touch a freed device.
  stopKeepAlive();

  audioConnection_.close();
  liveConnection_.close();
  playbackConnection_.close();
  commandConnection_.interrupt();
  searchConnection_.interrupt();

  if (worker_.joinable()) worker_.join();
  std::lock_guard<std::mutex> guard(searchLock_);
  if (searchThread_.joinable()) searchThread_.join();
}

int CTcpNetDevice::setEventCallback(DeviceEventCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(callbackLock_);
  event_ = {callback, context};
  return 1;
}

int CTcpNetDevice::setParamCallback(ParamDataCallback dataCallback, ParamResultCallback resultCallback, void* context) {
  std::lock_guard<std::mutex> guard(callbackLock_);
  paramData_ = dataCallback;
  paramResult_ = resultCallback;
  paramContext_ = context;
  return 1;
}

void CTcpNetDevice::raiseEvent(int event) {
  const auto slot = snapshot(event_);
  if (slot.callback != nullptr) slot.callback(event, slot.context);
}

bool CTcpNetDevice::waitForAddress(int ms) {
  constexpr int kStepMs = 10;
  for (int waited = 0; !addressResolved(); waited += kStepMs) {
    if (waited >= ms || waitReadable(deviceStop_.fd(), -1, kStepMs) == WaitResult::Ready) {
      return false;
    }
  }
  return true;
}

bool CTcpNetDevice::sendRequestOn(CTcpSocket& connection, const std::optional<std::string>& requestLine) {
  if (!requestLine || !commonHeader_) return false;
  return sendRequest(connection, *requestLine, *commonHeader_) == 1;
}

}  // namespace lumvara
