// Live stream, device events, camera audio and the talk uplink.

#include <cstring>

#include "net/device/tcp_net_device.h"
#include "net/transport/http_request.h"
#include "net/transport/stream_frame.h"
#include "platform/sockets/socket_ops.h"
#include "platform/sync/tick.h"

namespace lumvara {
namespace {

constexpr int kResolvePollMs = 30;
constexpr int kHoldPollMs = 10;
// Pause between keep-alive checks; with the 5 s silence limit a silent stream
// is reconnected 5 to 8 s after its last frame.
constexpr int kKeepAlivePauseMs = 3000;
constexpr size_t kTalkFrameArea = 4096;

// Waits up to `ms` for `signal`; true when it was set.
bool waitSignal(const WakeSignal& signal, int ms) { return waitReadable(signal.fd(), -1, ms) == WaitResult::Ready; }

}  // namespace

int CTcpNetDevice::startStream(int streamId, DeviceDataCallback callback, void* context) {
  stopStream();
  std::lock_guard<std::mutex> guard(liveLock_);
  if (liveActive_.load()) return 1;
  streamId_.store(streamId);
  {
    std::lock_guard<std::mutex> callbacks(callbackLock_);
    liveData_ = {callback, context};
  }
  talkSeq_.store(0);
  hold_.store(false);
  lastDataTime_.store(0);
  keepAliveWake_.reset();
  keepAliveStop_.store(false);
  keepAlive_ = std::thread([this] { keepAliveLoop(); });
  return 1;
}

int CTcpNetDevice::stopStream() {
  std::lock_guard<std::mutex> guard(liveLock_);
  // The keep-alive thread ends first (its connect and pauses are woken), so
  // nothing reopens the live connection once it is closed below; closing it
  // waits for the receive thread, after which no data callback runs.
  stopKeepAlive();
  connected_.store(false);
  liveConnection_.close();
  liveActive_.store(false);
  std::lock_guard<std::mutex> callbacks(callbackLock_);
  liveData_ = {};
  return 1;
}

void CTcpNetDevice::stopKeepAlive() {
  keepAliveStop_.store(true);
  keepAliveWake_.set();
  if (keepAlive_.joinable()) keepAlive_.join();
}

void CTcpNetDevice::keepAliveLoop() {
  while (!addressResolved()) {
    if (keepAliveStop_.load() || waitSignal(keepAliveWake_, kResolvePollMs)) return;
  }
  // The first pass connects at once whatever the tick reads.
  bool firstPass = true;
  while (!keepAliveStop_.load()) {
    if (hold_.load()) {
      waitSignal(keepAliveWake_, kHoldPollMs);
      continue;
    }
    if (firstPass || ticksSince(lastDataTime_.load()) > kLiveSilenceMs) {
      firstPass = false;
      raiseEvent(LUMVARA_EVENT_CONNECTING);
      connected_.store(false);
      if (liveConnection_.isOpen()) liveConnection_.close();
      const bool sent = liveRequest();
      if (keepAliveStop_.load()) return;
      raiseEvent(sent ? LUMVARA_EVENT_CONNECTED : LUMVARA_EVENT_CONNECT_FAILED);
      lastDataTime_.store(tickCount());
    }
    waitSignal(keepAliveWake_, kKeepAlivePauseMs);
  }
}

bool CTcpNetDevice::liveRequest() {
  if (!addressResolved()) return false;
  if (!liveConnection_.isOpen() &&
      !liveConnection_.connect(resolvedAddress().c_str(), info_.port, keepAliveWake_.fd())) {
    return false;
  }
  const auto line = formatRequestLine("GET /livestream.cgi?user=%s&pwd=%s&streamid=%d&audio=%d&filename= HTTP/1.1\r\n",
                                      info_.user, info_.pwd, streamId_.load(), 0);
  // Active and unheld before the send: the camera answers at once, and
  // neither its first frames (the key frame a decoder starts from) nor a
  // refusal that comes straight back may be lost to this thread.
  hold_.store(false);
  liveActive_.store(true);
  if (!sendRequestOn(liveConnection_, line)) {
    liveActive_.store(false);
    return false;
  }
  lastDataTime_.store(tickCount());
  connected_.store(true);
  return true;
}

void CTcpNetDevice::liveDispatcher(const uint8_t* frame, int totalLength, void* context) {
  static_cast<CTcpNetDevice*>(context)->dispatchLiveFrame(frame, totalLength);
}

void CTcpNetDevice::dispatchLiveFrame(const uint8_t* frame, int totalLength) {
  // Any frame, notices included, is a sign of life.
  lastDataTime_.store(tickCount());
  const uint8_t kind = frameKind(frame);
  switch (kind) {
    case FrameKind::LoginRefused: {
      bool hasCallback;
      {
        std::lock_guard<std::mutex> guard(callbackLock_);
        hasCallback = event_.callback != nullptr;
      }
      // Nobody hears the refusal: stop retrying with credentials that fail.
      if (!hasCallback) hold_.store(true);
      raiseEvent(LUMVARA_EVENT_LOGIN_REFUSED);
      return;
    }
    case FrameKind::TooManyConnections:
    case FrameKind::RequestTypeError:
    case FrameKind::VideoLoss:
      hold_.store(true);
      raiseEvent(LUMVARA_EVENT_TOO_MANY_USERS + (kind - FrameKind::TooManyConnections));
      return;
    case FrameKind::MotionAlarm:
    case FrameKind::GpioAlarm:
    case FrameKind::MotionAlarmOver:
    case FrameKind::GpioAlarmOver:
      raiseEvent(kind);
      return;
    default:
      break;
  }
  if (!liveActive_.load()) return;
  const auto slot = snapshot(liveData_);
  if (slot.callback != nullptr) slot.callback(frame, totalLength, slot.context);
}

int CTcpNetDevice::sendTalkData(const char* data, int length) {
  // A talk frame must fit its 4096-byte area; a longer payload is refused
  // whole rather than cut or split.
  if (length < 0 || length > kMaxTalkPayload || (data == nullptr && length > 0)) return 0;
  uint8_t frame[kTalkFrameArea];
  // The counter advances on every call, sent or not, so the camera can see
  // the gaps.
  const uint32_t seq = talkSeq_.fetch_add(1);
  writeFrameHeader(frame, FrameKind::Talk, tickCount(), seq, static_cast<uint32_t>(length));
  if (length > 0) std::memcpy(frame + kFrameHeaderSize, data, static_cast<size_t>(length));
  if (!liveConnection_.isOpen() || !connected_.load()) return 1;
  liveConnection_.send(frame, kFrameHeaderSize + static_cast<size_t>(length));
  return 1;
}

int CTcpNetDevice::startAudio(int streamId, DeviceDataCallback callback, void* context) {
  stopAudio();
  std::lock_guard<std::mutex> guard(audioLock_);
  audioStreamId_.store(streamId);
  {
    std::lock_guard<std::mutex> callbacks(callbackLock_);
    audioData_ = {callback, context};
  }
  return audioRequest() ? 1 : 0;
}

bool CTcpNetDevice::audioRequest() {
  if (!addressResolved()) return false;
  if (!audioConnection_.isOpen() &&
      !audioConnection_.connect(resolvedAddress().c_str(), info_.port, deviceStop_.fd())) {
    return false;
  }
  const auto line = formatRequestLine("GET /audiostream.cgi?user=%s&pwd=%s&streamid=%d&filename= HTTP/1.1\r\n",
                                      info_.user, info_.pwd, audioStreamId_.load());
  // Active before the send, so that the first frames the camera sends
  // straight back reach the callback.
  audioActive_.store(true);
  if (!sendRequestOn(audioConnection_, line)) {
    audioConnection_.close();
    audioActive_.store(false);
    return false;
  }
  return true;
}

int CTcpNetDevice::stopAudio() {
  std::lock_guard<std::mutex> guard(audioLock_);
  if (!audioActive_.load()) return 1;
  audioConnection_.close();
  audioStreamId_.store(-1);
  audioActive_.store(false);
  std::lock_guard<std::mutex> callbacks(callbackLock_);
  audioData_ = {};
  return 1;
}

void CTcpNetDevice::audioHandler(const uint8_t* frame, int totalLength, void* context) {
  auto* device = static_cast<CTcpNetDevice*>(context);
  if (!device->audioActive_.load()) return;
  const auto slot = device->snapshot(device->audioData_);
  if (slot.callback != nullptr) slot.callback(frame, totalLength, slot.context);
}

}  // namespace lumvara
