// The command channel: a queue of commands that one worker thread runs one
// at a time, each on a fresh request connection.

#include <cstring>

#include "net/device/param_records.h"
#include "net/device/tcp_net_device.h"
#include "net/transport/http_request.h"
#include "net/transport/http_response.h"
#include "net/transport/http_values.h"
#include "platform/sockets/socket_ops.h"

namespace lumvara {
namespace {

constexpr int kIdlePollMs = 100;

}  // namespace

int CTcpNetDevice::ptz(int code) {
  enqueue(code, nullptr, 0);
  return 1;
}

int CTcpNetDevice::getNetwork(int code) {
  enqueue(code, nullptr, 0);
  return 1;
}

int CTcpNetDevice::setNetwork(int code, const char* payload, int length) {
  // The entry holds at most kCommandPayloadSize bytes; a longer payload is
  // refused rather than cut.
  if (length < 0 || length > kCommandPayloadSize || (payload == nullptr && length > 0)) return 0;
  enqueue(code, payload, length);
  return 1;
}

void CTcpNetDevice::enqueue(int code, const char* payload, int length) {
  auto command = std::make_unique<DeviceCommand>();
  command->code = code;
  if (length > 0) std::memcpy(command->payload.data(), payload, static_cast<size_t>(length));
  command->payloadLength = length;
  std::lock_guard<std::mutex> guard(queueLock_);
  queue_.push_back(std::move(command));
}

std::unique_ptr<DeviceCommand> CTcpNetDevice::takeCommand() {
  std::lock_guard<std::mutex> guard(queueLock_);
  if (queue_.empty()) return nullptr;
  auto command = std::move(queue_.front());
  queue_.pop_front();
  return command;
}

void CTcpNetDevice::commandWorker() {
  while (!workerStop_.load()) {
    std::unique_ptr<DeviceCommand> command;
    if (addressResolved()) command = takeCommand();
    if (!command) {
      waitReadable(deviceStop_.fd(), -1, kIdlePollMs);
      continue;
    }
    commandConnection_.close();
    // A command whose connection fails is dropped.
    if (!commandConnection_.connect(resolvedAddress().c_str(), info_.port, deviceStop_.fd())) {
      continue;
    }
    executeCommand(*command);
  }
}

void CTcpNetDevice::executeCommand(const DeviceCommand& command) {
  const int code = command.code;
  if (isCameraControlCode(code)) {
    executeControl(code);
  } else if (code == LUMVARA_CMD_GET_WIFI_SCAN) {
    executeWifiScan();
  } else if (readRecordSize(code) > 0) {
    executeRead(code);
  } else if (code == LUMVARA_CMD_REBOOT) {
    executeReboot();
  } else {
    executeSet(command);  // does nothing for codes it does not know
  }
}

bool CTcpNetDevice::sendCommand(const std::string& requestLine) {
  if (!commonHeader_) return false;
  return sendRequest(commandConnection_, requestLine, *commonHeader_) == 1;
}

bool CTcpNetDevice::readAnswer(std::string& body) {
  HttpResponse response;
  const int result = readResponse(commandConnection_.socket(), response, deviceStop_.fd());
  if (result <= 0) return false;
  body = std::move(response.body);
  return true;
}

void CTcpNetDevice::executeControl(int code) {
  const auto line = formatRequestLine("GET decoder_control.cgi?loginuse=%s&loginpas=%s&command=%d HTTP/1.1\r\n",
                                      info_.user, info_.pwd, code);
  if (line) sendCommand(*line);
}

void CTcpNetDevice::executeRead(int code) {
  const auto line = readRequestLine(code, info_.user, info_.pwd);
  std::string body;
  if (!line || !sendCommand(*line) || !readAnswer(body)) return;
  if (!fillReadRecord(code, body, recordArea_.data())) return;
  reportRecord(reportedCode(code), recordArea_.data(), readRecordSize(code));
}

void CTcpNetDevice::executeWifiScan() {
  const auto line = readRequestLine(LUMVARA_CMD_GET_WIFI_SCAN, info_.user, info_.pwd);
  std::string body;
  if (!line || !sendCommand(*line) || !readAnswer(body)) return;
  auto* result = reinterpret_cast<WifiScanResult*>(recordArea_.data());
  if (!fillWifiScan(body, *result)) return;
  reportRecord(LUMVARA_CMD_GET_WIFI_SCAN, result, sizeof(WifiScanResult));
}

void CTcpNetDevice::executeSet(const DeviceCommand& command) {
  // Codes nobody knows send nothing.
  if (!isSetCode(command.code)) return;
  // A set request that cannot be built (too long, line breaks in a text)
  // is reported as refused.
  const auto line = setRequestLine(command.code, command.payload.data(), static_cast<size_t>(command.payloadLength),
                                   info_.user, info_.pwd);
  int result = -1;
  std::string body;
  if (line && sendCommand(*line) && readAnswer(body)) result = resultValue(body);
  if (result == 0 && setNeedsReboot(command.code)) enqueue(LUMVARA_CMD_REBOOT, nullptr, 0);

  ParamResultCallback callback;
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    callback = paramResult_;
  }
  if (callback != nullptr) callback(command.code, result);
}

void CTcpNetDevice::executeReboot() {
  const auto line = formatRequestLine("GET reboot.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", info_.user, info_.pwd);
  std::string body;
  if (line && sendCommand(*line)) readAnswer(body);
}

void CTcpNetDevice::reportRecord(int code, const void* record, int size) {
  ParamDataCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    callback = paramData_;
    context = paramContext_;
  }
  if (callback != nullptr) callback(code, record, size, context);
}

}  // namespace lumvara
