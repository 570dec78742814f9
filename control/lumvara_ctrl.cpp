// CLumvaraCtrl: construction, window creation and destruction, live view
// (PlayVideo / StopVideo) and the status messages that the device's events
// become. The media commands are in lumvara_ctrl_media.cpp, SD playback and
// camera search in lumvara_ctrl_remote.cpp.
#include "control/lumvara_ctrl.h"

#include <lumvara/search.h>

#include <cstring>
#include <memory>

#include "audio/wave_in.h"
#include "control/settings.h"
#include "control/stream_players.h"
#include "control/video_view_dlg.h"
#include "net/device/live_device_list.h"
#include "net/device/net_device.h"
#include "platform/log/log.h"
#include "platform/winsys/message_loop.h"
#include "player/drawing_token.h"
#include "player/live_player_list.h"
#include "player/net_stream_play.h"

namespace lumvara::control {

using namespace winsys;

namespace {

// Texts put into the video window for the camera's refusals and video loss.
constexpr char kTextLoginRefused[] = "User or pwd is incorrect";
constexpr char kTextTooManyConnections[] = "Maximum of connections";
constexpr char kTextRequestTypeError[] = "Request type error";
constexpr char kTextVideoLoss[] = "Video Loss!";

// Alarm texts over the video.
constexpr int32_t kMotionAlarmEntry = 2;
constexpr int32_t kInputAlarmEntry = 3;

// The window message a device event becomes; 0 for events that post nothing.
UINT MessageForEvent(int code) {
  switch (code & 0xFFFF) {
    case LUMVARA_EVENT_CONNECTING:
      return kMsgConnecting;
    case LUMVARA_EVENT_LOGIN_REFUSED:
      return kMsgLoginRefused;
    case LUMVARA_EVENT_TOO_MANY_USERS:
      return kMsgTooManyConnections;
    case LUMVARA_EVENT_REQUEST_ERROR:
      return kMsgRequestTypeError;
    case LUMVARA_EVENT_VIDEO_LOSS:
      return kMsgVideoLoss;
    case LUMVARA_EVENT_CONNECTED:
      return kMsgRequestSent;
    case LUMVARA_EVENT_MOTION_ALARM:
      return kMsgMotionAlarmOn;
    case LUMVARA_EVENT_INPUT_ALARM:
      return kMsgInputAlarmOn;
    case LUMVARA_EVENT_MOTION_OVER:
      return kMsgMotionAlarmOff;
    case LUMVARA_EVENT_INPUT_OVER:
      return kMsgInputAlarmOff;
    default:
      return 0;
  }
}

OsdStringRecord AlarmRecord(bool motion) {
  OsdStringRecord record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(record.faceName, kSimSunFace, sizeof kSimSunFace);
  record.red = 255;
  record.left = motion ? 5 : 165;
  record.top = 45;
  record.right = motion ? 165 : 325;
  record.bottom = 75;
  const char* text = motion ? "[Motion Alarm]" : "[GPIO Alarm]";
  std::memcpy(record.text, text, std::strlen(text));
  record.mode = 0;
  record.position = motion ? LUMVARA_OSD_TOP_RIGHT : LUMVARA_OSD_BOTTOM_LEFT;
  return record;
}

}  // namespace

void CopyTextField(char* field, size_t size, const std::string& text, size_t maxBytes) {
  std::memset(field, 0, size);
  const std::string cut = ConvertText(text, std::min(maxBytes, size - 1));
  std::memcpy(field, cut.data(), cut.size());
}

CLumvaraCtrl::CLumvaraCtrl(ControlEvents* events) : m_events(events) {
  m_searchReady = device_broadcast_Initialization() == 1;
}

CLumvaraCtrl::~CLumvaraCtrl() {
  // The host is letting go of the control: nothing is reported any more.
  m_events = nullptr;
  {
    std::lock_guard lock(m_searchLock);
    m_searchResults.clear();
    m_searchHeld.clear();
  }
  CNetDevice* device = m_pDevice.load();
  if (device && isLiveDevice(device)) device->recordFileStop();
  StopVideo();
  // A video window shown full screen is no child of the control's window
  // and outlives it; it goes with the control.
  m_pVideoView = nullptr;
  m_videoView.reset();
  if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
  device_broadcast_unInitialization();
}

bool CLumvaraCtrl::CreateControlWindow(HWND parent, const Rect& rect) {
  WindowDesc desc;
  desc.parent = parent;
  desc.style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
  desc.rect = rect;
  desc.proc = [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProc(hwnd, message, wParam, lParam);
  };
  return CreateWindow(desc) != nullptr;
}

void CLumvaraCtrl::DestroyControlWindow() {
  if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

LRESULT CLumvaraCtrl::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(hwnd);
    case WM_DESTROY:
      OnDestroy();
      break;
    case WM_SIZE:
      DefWindowProc(hwnd, message, wParam, lParam);
      OnSize();
      return 0;
    case WM_TIMER:
      OnTimer(wParam);
      break;
    case WM_KEYDOWN:
      // Keys the video window passed on belong to the host.
      ForwardKey(wParam);
      return 0;
    default:
      if ((message >= kMsgSearchResult && message <= kMsgInputAlarmOff) || message == kMsgSdProgress) {
        OnPrivateMessage(message, wParam, lParam);
      }
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

int CLumvaraCtrl::OnCreate(HWND hwnd) {
  m_hWnd = hwnd;

  // The video window, covering the client area.
  Rect client;
  GetClientRect(hwnd, &client);
  m_videoView = std::make_unique<CVideoViewDlg>();
  if (!m_videoView->Create(hwnd, client)) {
    m_videoView.reset();
    return -1;
  }
  m_pVideoView = m_videoView.get();
  m_pVideoView->m_pOwner = this;
  m_pVideoView->m_bCreated = 1;
  m_pVideoView->LayoutVideoArea();
  ShowWindow(m_pVideoView->GetSafeHwnd(), SW_SHOW);

  m_pPlayer = nullptr;
  m_pDevice = nullptr;
  m_pWaveIn = nullptr;
  m_bErrorShown = 0;

  ReadSettings();
  m_bClosing = 0;
  return 0;
}

void CLumvaraCtrl::ReadSettings() {
  m_strIniFile = SettingsFilePath();
  SetStateProperty(m_VideoState, 0, &CLumvaraCtrl::OnVideoStateChanged);
  SetStateProperty(m_SoundState, 0, &CLumvaraCtrl::OnSoundStateChanged);
  SetStateProperty(m_RecordState, 0, &CLumvaraCtrl::OnRecordStateChanged);
  SetStateProperty(m_TalkState, 0, &CLumvaraCtrl::OnTalkStateChanged);
  ReadSettingsAtCreation(m_strIniFile, [this](int dispid, const DispatchValue& value) { StoreSetting(dispid, value); });
}

void CLumvaraCtrl::StoreSetting(int propertyDispid, const DispatchValue& value) {
  switch (propertyDispid) {
    case dispid::kRecFilePath:
      m_RecFilePath = value.str;
      OnRecFilePathChanged();
      break;
    case dispid::kRecFileLen:
      m_RecFileLen = value.lVal;
      OnRecFileLenChanged();
      break;
    case dispid::kRecTimeLen:
      m_RecTimeLen = value.lVal;
      OnRecTimeLenChanged();
      break;
    case dispid::kReservedSpace:
      m_ReservedSpace = value.lVal;
      OnReservedSpaceChanged();
      break;
    case dispid::kRecCover:
      m_RecCover = value.lVal;
      OnRecCoverChanged();
      break;
    default:
      break;
  }
}

void CLumvaraCtrl::OnDestroy() {
  m_bClosing = 1;
  CNetDevice* device = m_pDevice.load();
  if (device && isLiveDevice(device)) device->recordFileStop();
}

void CLumvaraCtrl::OnSize() {
  if (m_pVideoView == nullptr) return;
  Rect client;
  GetClientRect(m_hWnd, &client);
  MoveWindow(m_pVideoView->GetSafeHwnd(), client.left, client.top, client.width(), client.height(), true);
  InvalidateRect(m_hWnd, nullptr, true);
  UpdateWindow(m_hWnd);
}

void CLumvaraCtrl::SetStateProperty(int32_t& member, int32_t value, void (CLumvaraCtrl::*handler)()) {
  member = value;
  (this->*handler)();
}

// ---- Property change handlers ----

void CLumvaraCtrl::NotifyChanged(int propertyDispid) {
  m_bModified = true;
  if (m_events) m_events->PropertyChanged(propertyDispid);
}

void CLumvaraCtrl::OnSoundStateChanged() { NotifyChanged(dispid::kSoundState); }
void CLumvaraCtrl::OnTalkStateChanged() { NotifyChanged(dispid::kTalkState); }
void CLumvaraCtrl::OnRecordStateChanged() { NotifyChanged(dispid::kRecordState); }
void CLumvaraCtrl::OnVideoStateChanged() { NotifyChanged(dispid::kVideoState); }
void CLumvaraCtrl::OnRecFilePathChanged() { NotifyChanged(dispid::kRecFilePath); }
void CLumvaraCtrl::OnRecFileLenChanged() { NotifyChanged(dispid::kRecFileLen); }
void CLumvaraCtrl::OnRecTimeLenChanged() { NotifyChanged(dispid::kRecTimeLen); }
void CLumvaraCtrl::OnReservedSpaceChanged() { NotifyChanged(dispid::kReservedSpace); }
void CLumvaraCtrl::OnRecCoverChanged() { NotifyChanged(dispid::kRecCover); }

void CLumvaraCtrl::FireMessageNotify(int32_t lType, int32_t lParame) {
  if (m_events) {
    m_events->FireEvent(event_dispid::kMessageNotify, {DispatchValue::Long(lType), DispatchValue::Long(lParame)});
  }
}

void CLumvaraCtrl::ForwardKey(WPARAM key) {
  HWND parent = GetParent(m_hWnd);
  if (parent) PostMessage(parent, WM_KEYDOWN, key, 1);
}

// ---- Live view ----

int32_t CLumvaraCtrl::PlayVideo(const std::string& user, const std::string& pwd, const std::string& ip, int32_t port,
                                int32_t streamid, int32_t audioid) {
  (void)audioid;  // accepted, no effect: OpenSound always asks for audio stream 2
  if (m_pDevice.load() != nullptr) return 1;

  m_bErrorShown = 0;
  if (m_pVideoView) m_pVideoView->SetMessageText("");
  m_strCameraTag = ip;
  if (ip.empty()) return 0;
  for (char& c : m_strCameraTag) {
    if (c == '/' || c == ':' || c == '.') c = '_';
  }

  StartPlayer(StreamPlayerKind::kH264);
  CNetDevice* device = StartDevice(user, pwd, ip, port);
  if (isLiveDevice(device)) device->startStream(streamid, &CLumvaraCtrl::OnLiveFrame, this);
  return 0;
}

CNetStreamPlay* CLumvaraCtrl::StartPlayer(StreamPlayerKind kind) {
  // A player left behind by an earlier start whose device could not be
  // created goes first, so no player is ever orphaned in the live list.
  TearDownPlayer(true);

  m_drawingStarted = drawingStartup();
  CNetStreamPlay* player = CreateStreamPlayer(kind);
  m_pPlayer = player;
  if (isLivePlayer(player)) player->setPlayWnd(m_pVideoView ? m_pVideoView->videoWindow() : nullptr);
  if (isLivePlayer(player)) player->startPlay();
  return player;
}

CNetDevice* CLumvaraCtrl::StartDevice(const std::string& user, const std::string& pwd, const std::string& host,
                                      int32_t port) {
  DeviceConnectInfo info;
  std::memset(&info, 0, sizeof info);
  CopyTextField(info.user, sizeof info.user, user, kConnectionFieldText);
  CopyTextField(info.pwd, sizeof info.pwd, pwd, kConnectionFieldText);
  CopyTextField(info.host, sizeof info.host, host, kConnectionFieldText);
  info.port = port;
  CNetDevice* device = CreateLiveDevice(info);
  m_pDevice = device;
  if (isLiveDevice(device)) device->setEventCallback(&CLumvaraCtrl::OnStatusEvent, this);
  return device;
}

int32_t CLumvaraCtrl::StopVideo() {
  StopTalkCapture();
  TearDownDevice(true);
  TearDownPlayer(true);
  SetStateProperty(m_SoundState, 0, &CLumvaraCtrl::OnSoundStateChanged);
  SetStateProperty(m_RecordState, 0, &CLumvaraCtrl::OnRecordStateChanged);
  SetStateProperty(m_VideoState, 0, &CLumvaraCtrl::OnVideoStateChanged);
  SetStateProperty(m_TalkState, 0, &CLumvaraCtrl::OnTalkStateChanged);
  return 0;
}

void CLumvaraCtrl::StopTalkCapture() {
  if (!m_pWaveIn) return;
  m_pWaveIn->Stop();
  m_pWaveIn.reset();
}

void CLumvaraCtrl::TearDownDevice(bool liveView) {
  CNetDevice* device = m_pDevice.load();
  if (device == nullptr) return;
  if (liveView) {
    if (isLiveDevice(device)) device->stopAudio();
    if (isLiveDevice(device)) device->stopStream();
  } else {
    if (isLiveDevice(device)) device->recordFileStop();
  }
  {
    // The talk capture thread may be inside sendTalkData on this device.
    std::lock_guard lock(m_talkDeviceLock);
    m_pDevice = nullptr;
  }
  device_net_work_destroyInstance(device);
}

void CLumvaraCtrl::TearDownPlayer(bool liveView) {
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return;
  if (liveView) {
    if (IsWindow(m_hWnd)) {
      KillTimer(m_hWnd, kMotionAlarmTimer);
      KillTimer(m_hWnd, kInputAlarmTimer);
    }
    if (isLivePlayer(player)) player->stoplocalrecord();
  }
  if (isLivePlayer(player)) player->closeSound();
  if (liveView && isLivePlayer(player)) player->stopPlay();
  x_player_destroyPlayInstance(player);
  if (m_drawingStarted) {
    drawingShutdown();
    m_drawingStarted = false;
  }
  m_pPlayer = nullptr;
}

int CLumvaraCtrl::OnLiveFrame(const unsigned char* frame, int length, void* context) {
  auto* self = static_cast<CLumvaraCtrl*>(context);
  CNetStreamPlay* player = self->m_pPlayer.load();
  if (isLivePlayer(player) && length > 0) player->inputNetFrame(frame, static_cast<uint32_t>(length));
  return 0;
}

int CLumvaraCtrl::OnStatusEvent(int code, void* context) {
  auto* self = static_cast<CLumvaraCtrl*>(context);
  const UINT message = MessageForEvent(code);
  if (message != 0) PostMessage(self->m_hWnd, message, reinterpret_cast<WPARAM>(self), 0);
  return 0;
}

// ---- Status messages ----

void CLumvaraCtrl::OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;  // the control, or the search record's address
  switch (message) {
    case kMsgSearchResult:
      OnSearchResultMessage(static_cast<uint64_t>(lParam));
      break;
    case kMsgConnecting:
      FireMessageNotify(2, 0);
      break;
    case kMsgLoginRefused:
      ShowErrorText(kTextLoginRefused);
      break;
    case kMsgTooManyConnections:
      ShowErrorText(kTextTooManyConnections);
      break;
    case kMsgRequestTypeError:
      ShowErrorText(kTextRequestTypeError);
      break;
    case kMsgVideoLoss:
      ShowErrorText(kTextVideoLoss);
      break;
    case kMsgRequestSent:
      break;
    case kMsgMotionAlarmOn:
      AlarmOn(3, kMotionAlarmEntry, kMotionAlarmTimer);
      break;
    case kMsgInputAlarmOn:
      AlarmOn(4, kInputAlarmEntry, kInputAlarmTimer);
      break;
    case kMsgMotionAlarmOff:
      AlarmOff(5, kMotionAlarmEntry, kMotionAlarmTimer, true);
      break;
    case kMsgInputAlarmOff:
      AlarmOff(6, kInputAlarmEntry, kInputAlarmTimer, true);
      break;
    case kMsgSdProgress:
      FireMessageNotify(10, m_nSdBytes.load());
      break;
    default:
      break;
  }
}

void CLumvaraCtrl::ShowErrorText(const char* text) {
  m_bErrorShown = 1;
  char buffer[CVideoViewDlg::kMessageBytes] = {};
  std::strncpy(buffer, text, sizeof buffer - 1);
  if (m_pVideoView == nullptr) return;
  m_pVideoView->SetMessageText(buffer);
  m_pVideoView->FillMessageArea();
}

void CLumvaraCtrl::AlarmOn(int32_t lType, int32_t entry, uintptr_t timer) {
  FireMessageNotify(lType, 0);
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return;
  const OsdStringRecord record = AlarmRecord(entry == kMotionAlarmEntry);
  if (isLivePlayer(player)) player->setOsdString(entry, &record);
  // A renewed alarm starts its 30 s again.
  KillTimer(m_hWnd, timer);
  SetTimer(m_hWnd, timer, kAlarmTimeoutMs);
}

void CLumvaraCtrl::AlarmOff(int32_t lType, int32_t entry, uintptr_t timer, bool fromCamera) {
  if (fromCamera) {
    FireMessageNotify(lType, 0);
    KillTimer(m_hWnd, timer);
    CNetStreamPlay* player = m_pPlayer.load();
    if (isLivePlayer(player)) player->removeOsdstring(entry);
    return;
  }
  // Timer expiry: it fires once per start.
  KillTimer(m_hWnd, timer);
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return;
  FireMessageNotify(lType, 0);
  if (isLivePlayer(player)) player->removeOsdstring(entry);
}

void CLumvaraCtrl::OnTimer(uintptr_t id) {
  if (id == kMotionAlarmTimer) AlarmOff(5, kMotionAlarmEntry, kMotionAlarmTimer, false);
  if (id == kInputAlarmTimer) AlarmOff(6, kInputAlarmEntry, kInputAlarmTimer, false);
}

// ---- Video window ----

void CLumvaraCtrl::PaintVideoArea() {
  if (m_pVideoView == nullptr) return;
  CNetStreamPlay* player = m_pPlayer.load();
  if (player != nullptr && m_bErrorShown == 0) {
    if (isLivePlayer(player) && player->refreshLastPicture() != 0) return;
  }
  m_pVideoView->FillMessageArea();
}

int32_t CLumvaraCtrl::SetFocus(int32_t bFocus) {
  if (m_pVideoView) m_pVideoView->DrawFocusFrame(bFocus);
  return 0;
}

winsys::HWND CLumvaraCtrl::VideoWindow() const { return m_pVideoView ? m_pVideoView->GetSafeHwnd() : nullptr; }

void CLumvaraCtrl::ShowMax() {
  if (m_pVideoView == nullptr) return;
  HWND view = m_pVideoView->GetSafeHwnd();
  const int width = GetSystemMetrics(SM_CXSCREEN) - 1;
  const int height = GetSystemMetrics(SM_CYSCREEN) - 1;
  SetWindowStyle(view, (GetWindowStyle(view) & ~WS_CHILD) | WS_POPUP);
  SetParent(view, nullptr);
  MoveWindow(view, 0, 0, width, height, true);
  SetWindowTopmost(view, true);
}

void CLumvaraCtrl::ShowNormal() {
  if (m_pVideoView == nullptr) return;
  HWND view = m_pVideoView->GetSafeHwnd();
  Rect client;
  GetClientRect(m_hWnd, &client);
  SetParent(view, m_hWnd);
  SetWindowStyle(view, (GetWindowStyle(view) & ~WS_POPUP) | WS_CHILD);
  MoveWindow(view, client.left, client.top, client.width(), client.height(), true);
}

void CLumvaraCtrl::UpdataSize() { PostMessage(m_hWnd, WM_SIZE, 0, 0); }

}  // namespace lumvara::control
