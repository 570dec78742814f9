#include "net/device/net_device.h"

namespace lumvara {

int CNetDevice::startStream(int, DeviceDataCallback, void*) { return 0; }
int CNetDevice::stopStream() { return 0; }
int CNetDevice::startAudio(int, DeviceDataCallback, void*) { return 0; }
int CNetDevice::stopAudio() { return 0; }
int CNetDevice::startTalk() { return 0; }
int CNetDevice::stopTalk() { return 0; }
int CNetDevice::sendTalkData(const char*, int) { return 0; }
int CNetDevice::setEventCallback(DeviceEventCallback, void*) { return 0; }
int CNetDevice::ptz(int) { return 0; }
int CNetDevice::recordFileSearchList(int, int, int, int, int, int, int, int, int, int, int, int, RecordFileCallback,
                                     void*) {
  return 0;
}
int CNetDevice::recordFileStart(const char*, DeviceDataCallback, void*) { return 0; }
int CNetDevice::recordFileStop() { return 0; }
int CNetDevice::recordFileSetPos(int) { return 0; }
int CNetDevice::setParamCallback(ParamDataCallback, ParamResultCallback, void*) { return 0; }
int CNetDevice::setNetwork(int, const char*, int) { return 0; }
int CNetDevice::getNetwork(int) { return 0; }

}  // namespace lumvara
