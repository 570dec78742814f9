#pragma once
// CTcpNetDevice: one network camera reached over its HTTP/CGI protocol.
//
// Threads of a device:
// - the address resolver, from construction to destruction;
// - the command worker, from construction to destruction: runs queued
//   commands one at a time and calls the parameter callbacks;
// - the keep-alive thread while the live stream runs: connects, sends the
//   live request, reconnects after silence, raises events 0, 100 and 101;
// - one receive thread per open stream connection (live, audio, playback):
//   data callbacks and the events that frames carry;
// - the record search thread while a search runs: record file callbacks.
//
// Every blocking wait of these threads (connects, answers, pauses) is ended at
// once by a wake signal, so stopping the live stream and destroying the device
// never wait out the camera. Callers must not stop the stream or destroy the
// device from inside a callback.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/device/address_resolver.h"
#include "net/device/device_command.h"
#include "net/device/net_device.h"
#include "net/transport/cmd_connection.h"
#include "net/transport/host_resolver.h"
#include "net/transport/tcp_socket.h"
#include "platform/sockets/wake_signal.h"

namespace lumvara {

// Silence on the live connection after which the keep-alive reconnects.
inline constexpr uint32_t kLiveSilenceMs = 5000;
// Talk frames fit 4096 bytes: header plus at most this payload.
inline constexpr int kMaxTalkPayload = 4064;
// Playback file names kept and sent, in characters.
inline constexpr size_t kMaxPlaybackName = 127;

class CTcpNetDevice : public CNetDevice {
 public:
  // `resolver` null: the system's name lookup. Tests inject one so that no
  // name ever reaches DNS.
  explicit CTcpNetDevice(const DeviceConnectInfo& info, HostResolver resolver = nullptr);
  ~CTcpNetDevice() override;
  CTcpNetDevice(const CTcpNetDevice&) = delete;
  CTcpNetDevice& operator=(const CTcpNetDevice&) = delete;

  int startStream(int streamId, DeviceDataCallback callback, void* context) override;
  int stopStream() override;
  int startAudio(int streamId, DeviceDataCallback callback, void* context) override;
  int stopAudio() override;
  int sendTalkData(const char* data, int length) override;
  int setEventCallback(DeviceEventCallback callback, void* context) override;
  int ptz(int code) override;
  int recordFileSearchList(int startYear, int startMonth, int startDay, int startHour, int startMinute, int startSecond,
                           int endYear, int endMonth, int endDay, int endHour, int endMinute, int endSecond,
                           RecordFileCallback callback, void* context) override;
  int recordFileStart(const char* fileName, DeviceDataCallback callback, void* context) override;
  int recordFileStop() override;
  int recordFileSetPos(int offset) override;
  int setParamCallback(ParamDataCallback dataCallback, ParamResultCallback resultCallback, void* context) override;
  int setNetwork(int code, const char* payload, int length) override;
  int getNetwork(int code) override;

  // True once the camera's host has produced an IPv4 address.
  bool addressResolved() const { return resolver_->resolved(); }

 private:
  template <typename Callback>
  struct CallbackSlot {
    Callback callback = nullptr;
    void* context = nullptr;
  };

  // A copy of a callback slot taken under callbackLock_, to call outside it.
  template <typename Callback>
  CallbackSlot<Callback> snapshot(const CallbackSlot<Callback>& slot) const {
    std::lock_guard<std::mutex> guard(callbackLock_);
    return slot;
  }

  // Live stream.
  void keepAliveLoop();
  bool liveRequest();
  void stopKeepAlive();
  void raiseEvent(int event);
  static void liveDispatcher(const uint8_t* frame, int totalLength, void* context);
  void dispatchLiveFrame(const uint8_t* frame, int totalLength);

  // Audio stream.
  bool audioRequest();
  static void audioHandler(const uint8_t* frame, int totalLength, void* context);

  // Commands.
  void enqueue(int code, const char* payload, int length);
  void commandWorker();
  std::unique_ptr<DeviceCommand> takeCommand();
  void executeCommand(const DeviceCommand& command);
  void executeControl(int code);
  void executeRead(int code);
  void executeWifiScan();
  void executeSet(const DeviceCommand& command);
  void executeReboot();
  bool sendCommand(const std::string& requestLine);
  bool readAnswer(std::string& body);
  void reportRecord(int code, const void* record, int size);

  // Record files.
  void recordSearch();
  bool playbackRequest(int offset);
  static void playbackHandler(const uint8_t* frame, int totalLength, void* context);

  // Sends one request (line + common header block) on a connection; false
  // when it was refused or not sent.
  bool sendRequestOn(CTcpSocket& connection, const std::optional<std::string>& requestLine);
  std::string resolvedAddress() const { return resolver_->address(); }
  // Waits up to `ms` for the first address (a host name may still be in
  // its first lookup); false when there is none or the device is stopping.
  bool waitForAddress(int ms);

  DeviceConnectInfo info_{};
  // Empty when the host text cannot go into a request (a line break).
  std::optional<std::string> commonHeader_;
  HostResolver hostResolver_;
  std::unique_ptr<AddressResolver> resolver_;

  // Set once at destruction: ends every wait of the worker and the search.
  WakeSignal deviceStop_;

  // Callback slots are copied under callbackLock_ and called outside it.
  mutable std::mutex callbackLock_;
  CallbackSlot<DeviceEventCallback> event_;
  CallbackSlot<DeviceDataCallback> liveData_;
  CallbackSlot<DeviceDataCallback> audioData_;
  CallbackSlot<DeviceDataCallback> playbackData_;
  CallbackSlot<RecordFileCallback> recordFile_;
  ParamDataCallback paramData_ = nullptr;
  ParamResultCallback paramResult_ = nullptr;
  void* paramContext_ = nullptr;

  // Command channel.
  CmdConnection commandConnection_;
  std::atomic<bool> workerStop_{false};
  std::mutex queueLock_;
  std::deque<std::unique_ptr<DeviceCommand>> queue_;
  std::vector<uint8_t> recordArea_;  // worker only
  std::thread worker_;

  // Live stream.
  std::mutex liveLock_;
  std::atomic<int> streamId_{0};
  std::atomic<uint32_t> talkSeq_{0};
  std::atomic<bool> connected_{false};
  std::atomic<bool> keepAliveStop_{true};
  std::atomic<bool> liveActive_{false};
  std::atomic<bool> hold_{false};
  std::atomic<uint32_t> lastDataTime_{0};
  WakeSignal keepAliveWake_;
  CTcpSocket liveConnection_;
  std::thread keepAlive_;

  // Audio stream.
  std::mutex audioLock_;
  std::atomic<int> audioStreamId_{-1};
  std::atomic<bool> audioActive_{false};
  CTcpSocket audioConnection_;

  // SD playback; calls serialised by playbackLock_.
  std::mutex playbackLock_;
  CTcpSocket playbackConnection_;
  std::string playbackName_;

  // Record search.
  std::mutex searchLock_;
  CmdConnection searchConnection_;
  std::thread searchThread_;
  int searchDates_[12] = {};
};

}  // namespace lumvara
