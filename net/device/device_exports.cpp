// The exported device calls. Each one checks its handle against the
// live-device list first and refuses anything that is not a live device.

#include <lumvara/device.h>

#include "net/device/live_device_list.h"
#include "net/device/net_device.h"
#include "net/device/tcp_net_device.h"

#include <memory>

namespace {

using lumvara::CNetDevice;

// No exception may cross the C boundary: a call that fails to get memory or
// a thread reports failure instead.
template <typename Call>
int guarded(Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return 0;
  }
}

// The device behind a handle, or null when the handle is not live.
CNetDevice* liveDevice(void* handle) {
  if (!lumvara::isLiveDevice(handle)) return nullptr;
  return static_cast<CNetDevice*>(handle);
}

}  // namespace

extern "C" {

LUMVARA_API int device_net_work_init(void) { return 1; }

LUMVARA_API int device_net_work_deInit(void) { return 1; }

LUMVARA_API void* device_net_work_createInstance(DeviceConnectInfo info) {
  try {
    auto device = std::make_unique<lumvara::CTcpNetDevice>(info);
    lumvara::addLiveDevice(device.get());
    // From here the live-device list holds it; destroyInstance frees it.
    return device.release();
  } catch (...) {
    return nullptr;
  }
}

LUMVARA_API int device_net_work_destroyInstance(void* handle) {
  CNetDevice* device = liveDevice(handle);
  if (device == nullptr) return 0;
  // Only the caller that takes the device out of the list destroys it.
  if (!lumvara::removeLiveDevice(device)) return 0;
  device->stopStream();
  delete device;
  return 1;
}

LUMVARA_API int device_net_work_startStream(void* handle, int stream_id, DeviceDataCallback callback, void* context) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->startStream(stream_id, callback, context); }) : 0;
}

LUMVARA_API int device_net_work_stopStream(void* handle) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->stopStream(); }) : 0;
}

LUMVARA_API int device_net_work_startAudio(void* handle, int stream_id, DeviceDataCallback callback, void* context) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->startAudio(stream_id, callback, context); }) : 0;
}

LUMVARA_API int device_net_work_stopAudio(void* handle) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->stopAudio(); }) : 0;
}

LUMVARA_API int device_net_work_startTalk(void* handle) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->startTalk(); }) : 0;
}

LUMVARA_API int device_net_work_stopTalk(void* handle) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->stopTalk(); }) : 0;
}

LUMVARA_API int device_net_work_sendTalkData(void* handle, const char* data, int length) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->sendTalkData(data, length); }) : 0;
}

LUMVARA_API int device_net_work_set_event_callback(void* handle, DeviceEventCallback callback, void* context) {
  CNetDevice* device = liveDevice(handle);
  if (device == nullptr) return 0;
  device->setEventCallback(callback, context);
  return 1;
}

LUMVARA_API int device_net_work_ptz(void* handle, int code) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->ptz(code); }) : 0;
}

LUMVARA_API int device_net_work_param_callback(void* handle, ParamDataCallback data_callback,
                                               ParamResultCallback result_callback, void* context) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->setParamCallback(data_callback, result_callback, context); }) : 0;
}

LUMVARA_API int device_net_work_set_network(void* handle, int code, const char* payload, int length) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->setNetwork(code, payload, length); }) : 0;
}

LUMVARA_API int device_net_work_get_network(void* handle, int code) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->getNetwork(code); }) : 0;
}

LUMVARA_API int device_record_file_search_list(void* handle, int start_year, int start_month, int start_day,
                                               int start_hour, int start_minute, int start_second, int end_year,
                                               int end_month, int end_day, int end_hour, int end_minute, int end_second,
                                               RecordFileCallback callback, void* context) {
  CNetDevice* device = liveDevice(handle);
  if (device == nullptr) return 0;
  return guarded([&] {
    return device->recordFileSearchList(start_year, start_month, start_day, start_hour, start_minute, start_second,
                                        end_year, end_month, end_day, end_hour, end_minute, end_second, callback,
                                        context);
  });
}

LUMVARA_API int device_record_file_start(void* handle, const char* file_name, DeviceDataCallback callback,
                                         void* context) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->recordFileStart(file_name, callback, context); }) : 0;
}

LUMVARA_API int device_record_file_stop(void* handle) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->recordFileStop(); }) : 0;
}

LUMVARA_API int device_record_file_set_pos(void* handle, int offset) {
  CNetDevice* device = liveDevice(handle);
  return device ? guarded([&] { return device->recordFileSetPos(offset); }) : 0;
}

}  // extern "C"
