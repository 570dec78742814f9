#pragma once
// The camera device interface. Callers create one device per camera and
// switch its activities on and off through these operations; the slot order
// is fixed. Every base operation does nothing and returns 0.

#include <lumvara/device.h>

namespace lumvara {

class CNetDevice {
 public:
  virtual ~CNetDevice() = default;

  virtual int startStream(int streamId, DeviceDataCallback callback, void* context);
  virtual int stopStream();
  virtual int startAudio(int streamId, DeviceDataCallback callback, void* context);
  virtual int stopAudio();
  virtual int startTalk();
  virtual int stopTalk();
  virtual int sendTalkData(const char* data, int length);
  virtual int setEventCallback(DeviceEventCallback callback, void* context);
  virtual int ptz(int code);
  virtual int recordFileSearchList(int startYear, int startMonth, int startDay, int startHour, int startMinute,
                                   int startSecond, int endYear, int endMonth, int endDay, int endHour, int endMinute,
                                   int endSecond, RecordFileCallback callback, void* context);
  virtual int recordFileStart(const char* fileName, DeviceDataCallback callback, void* context);
  virtual int recordFileStop();
  virtual int recordFileSetPos(int offset);
  virtual int setParamCallback(ParamDataCallback dataCallback, ParamResultCallback resultCallback, void* context);
  virtual int setNetwork(int code, const char* payload, int length);
  virtual int getNetwork(int code);
};

}  // namespace lumvara
