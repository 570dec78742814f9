#pragma once
// CLumvaraCtrl: the camera control a host embeds. One camera view: at most
// one camera device and one player at a time, a talk capture object, a
// video window (CVideoViewDlg), the recording settings, and two events back
// to the host.
//
// Threads. Every method, property access, window message, timer and event
// runs on the control's window thread (the thread that created its window).
// The device calls OnStatusEvent, OnLiveFrame and OnSdFrame on its own
// threads, the talk capture thread calls OnTalkData and the LAN search
// thread OnSearchReply; those only post window messages or hand data on,
// after the live-list checks.

#include <lumvara/control.h>
#include <lumvara/device.h>
#include <lumvara/player.h>
#include <lumvara/search.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include <vector>

#include "control/dispatch/dispatcher.h"
#include "control/stream_players.h"
#include "platform/winsys/window.h"

namespace lumvara {
class CNetDevice;
class CNetStreamPlay;
class CWaveIn;
}  // namespace lumvara

namespace lumvara::control {

class CVideoViewDlg;

// The SimSun face name in UTF-8 (E5 AE 8B E4 BD 93), used by the text
// entries the control puts over the video; the font layer maps it to an
// installed CJK font.
inline constexpr char kSimSunFace[] = "\xE5\xAE\x8B\xE4\xBD\x93";

// Creates the TCP camera device for `info` and appends it to the live-device
// list, which holds it until device_net_work_destroyInstance frees it. Null
// when it cannot be created.
CNetDevice* CreateLiveDevice(const DeviceConnectInfo& info);

// Zero-fills a fixed field of `size` bytes and copies `text` into it, cut at
// a character boundary to at most `maxBytes` bytes and always leaving room
// for the terminating NUL.
void CopyTextField(char* field, size_t size, const std::string& text, size_t maxBytes);

// Private window messages of the control.
inline constexpr winsys::UINT kMsgSearchResult = 1024 + 100;
inline constexpr winsys::UINT kMsgConnecting = 1024 + 101;
inline constexpr winsys::UINT kMsgLoginRefused = 1024 + 102;
inline constexpr winsys::UINT kMsgTooManyConnections = 1024 + 103;
inline constexpr winsys::UINT kMsgRequestTypeError = 1024 + 104;
inline constexpr winsys::UINT kMsgVideoLoss = 1024 + 105;
inline constexpr winsys::UINT kMsgRequestSent = 1024 + 106;
inline constexpr winsys::UINT kMsgMotionAlarmOn = 1024 + 107;
inline constexpr winsys::UINT kMsgInputAlarmOn = 1024 + 108;
inline constexpr winsys::UINT kMsgMotionAlarmOff = 1024 + 109;
inline constexpr winsys::UINT kMsgInputAlarmOff = 1024 + 110;
inline constexpr winsys::UINT kMsgSdProgress = 1024 + 710;

// Alarm display timers on the control's window and their period.
inline constexpr uintptr_t kMotionAlarmTimer = 1023;
inline constexpr uintptr_t kInputAlarmTimer = 1024;
inline constexpr uint32_t kAlarmTimeoutMs = 30000;

// The control's version, 1.0.
inline constexpr int32_t kControlVersion = 0x10000;

// What the control tells its host: events and property changes. Both run on
// the window thread, synchronously.
class ControlEvents {
 public:
  virtual ~ControlEvents() = default;
  virtual void FireEvent(int eventDispid, std::vector<DispatchValue> args) = 0;
  virtual void PropertyChanged(int dispid) = 0;
};

class CLumvaraCtrl {
 public:
  // Clears the members and initialises the process-wide LAN search context.
  explicit CLumvaraCtrl(ControlEvents* events);
  // Stops SD playback, runs the StopVideo teardown, destroys the windows if
  // they still exist and releases the LAN search context.
  ~CLumvaraCtrl();
  CLumvaraCtrl(const CLumvaraCtrl&) = delete;
  CLumvaraCtrl& operator=(const CLumvaraCtrl&) = delete;

  // Creates the control's window as a child of `parent` at `rect` (parent's
  // client coordinates); its creation builds the video window and reads the
  // settings. False when the window cannot be created.
  bool CreateControlWindow(winsys::HWND parent, const winsys::Rect& rect);
  // Destroys the control's window (and with it the video window).
  void DestroyControlWindow();
  winsys::HWND GetSafeHwnd() const { return m_hWnd; }
  // The video window (null before window creation).
  winsys::HWND VideoWindow() const;

  // ---- Methods (results as the scripting interface gives them) ----
  int32_t PlayVideo(const std::string& user, const std::string& pwd, const std::string& ip, int32_t port,
                    int32_t streamid, int32_t audioid);
  int32_t StopVideo();
  int32_t SetFocus(int32_t bFocus);
  void ShowMax();
  void ShowNormal();
  int32_t CapturePic();
  int32_t OpenSound();
  int32_t CloseSound();
  int32_t StartTalk();
  int32_t StopTalk();
  int32_t StartRecord();
  int32_t StopRecord();
  void SetPath();
  void OnSearchCameras();
  int32_t SetFlip(int32_t type);
  int32_t SetOsd(const std::string& osd);
  int32_t RemoveOsd();
  void UpdataSize();
  void SetRecordProperty(int32_t fileLen, int32_t timeLen, int32_t reserved, int32_t cover);
  int32_t SdRecordFilePlay(const std::string& user, const std::string& pwd, const std::string& ServerIp,
                           int32_t ServerPort, const std::string& FileName, int32_t streamid);
  int32_t SdRecordFileStop();
  int32_t SdRecordFileSetPos(int32_t pos);
  int32_t SetAlias(const std::string& alias);
  int32_t GetVersion();

  // ---- Property change handlers: set the modified flag, tell the host ----
  void OnSoundStateChanged();
  void OnTalkStateChanged();
  void OnRecordStateChanged();
  void OnVideoStateChanged();
  void OnRecFilePathChanged();
  void OnRecFileLenChanged();
  void OnRecTimeLenChanged();
  void OnReservedSpaceChanged();
  void OnRecCoverChanged();
  bool IsModified() const { return m_bModified; }

  // ---- Called by the video window ----
  // Draws the last picture again, or the message area when there is none
  // or an error text is shown.
  void PaintVideoArea();
  void FireMessageNotify(int32_t lType, int32_t lParame);
  // Keys the video window does not take go to the host, through the
  // control's parent.
  void ForwardKey(winsys::WPARAM key);

  // ---- Callbacks handed to the device, the talk capture and the search ----
  static int OnLiveFrame(const unsigned char* frame, int length, void* context);
  static int OnStatusEvent(int code, void* context);
  static int OnSdFrame(const unsigned char* frame, int length, void* context);
  static int OnTalkData(const unsigned char* data, int length, void* user);
  static void OnSearchReply(const SearchResultRecord* record, void* context);

  // ---- State (the scripting properties are plain members) ----
  CVideoViewDlg* m_pVideoView = nullptr;  // owned by m_videoView below
  std::string m_strIniFile;
  std::string m_strCameraTag;
  int32_t m_bErrorShown = 0;
  int32_t m_bOsdOn = 0;
  char m_szOsdText[260] = {};
  std::atomic<int32_t> m_bWaitKeyFrame{0};
  std::atomic<int32_t> m_bClosing{0};
  // Read on the device's and the capture thread, written here.
  std::atomic<CNetStreamPlay*> m_pPlayer{nullptr};
  std::atomic<CNetDevice*> m_pDevice{nullptr};
  std::unique_ptr<CWaveIn> m_pWaveIn;  // created by StartTalk, freed by StopTalk / StopVideo
  std::atomic<int32_t> m_nSdBytes{0};
  int32_t m_SoundState = 0;
  int32_t m_TalkState = 0;
  int32_t m_RecordState = 0;
  int32_t m_VideoState = 0;
  std::string m_RecFilePath;
  int32_t m_RecFileLen = 0;
  int32_t m_RecTimeLen = 0;
  int32_t m_ReservedSpace = 0;
  int32_t m_RecCover = 0;

 private:
  winsys::LRESULT WindowProc(winsys::HWND hwnd, winsys::UINT message, winsys::WPARAM wParam, winsys::LPARAM lParam);
  int OnCreate(winsys::HWND hwnd);
  void OnDestroy();
  void OnSize();
  void OnTimer(uintptr_t id);
  void OnPrivateMessage(winsys::UINT message, winsys::WPARAM wParam, winsys::LPARAM lParam);
  void OnSearchResultMessage(uint64_t id);
  void ShowErrorText(const char* text);
  void AlarmOn(int32_t lType, int32_t entry, uintptr_t timer);
  // `fromCamera`: the camera ended the alarm; otherwise its timer expired.
  void AlarmOff(int32_t lType, int32_t entry, uintptr_t timer, bool fromCamera);
  void SetUserTextEntries();
  void ReadSettings();
  // The recording folder as the settings file holds it now.
  std::string ReadRecordFolder() const;
  void StoreSetting(int propertyDispid, const DispatchValue& value);
  void NotifyChanged(int propertyDispid);
  void StopTalkCapture();
  // Starts the drawing layer and a player of the kind in the video area
  // (m_pPlayer); null when it cannot be created.
  CNetStreamPlay* StartPlayer(StreamPlayerKind kind);
  // Creates the camera device (m_pDevice) and gives it the status callback;
  // null when it cannot be created.
  CNetDevice* StartDevice(const std::string& user, const std::string& pwd, const std::string& host, int32_t port);
  // Stops and destroys the device: its live stream and audio (`liveView`),
  // or its SD playback.
  void TearDownDevice(bool liveView);
  // Destroys the player; for a live view also kills the alarm timers and
  // stops recording and playing first.
  void TearDownPlayer(bool liveView);
  void SetStateProperty(int32_t& member, int32_t value, void (CLumvaraCtrl::*handler)());

  ControlEvents* m_events;
  winsys::HWND m_hWnd = nullptr;
  std::unique_ptr<CVideoViewDlg> m_videoView;
  bool m_bModified = false;
  bool m_searchReady = false;
  bool m_drawingStarted = false;
  // Held by OnTalkData while it uses the device and by the teardown while it
  // takes the device away, so the capture thread never calls a device that
  // is being destroyed.
  std::mutex m_talkDeviceLock;
  // LAN search results: the search thread appends, the window thread reads
  // and empties. The search result message carries the record's address and
  // its serial number; the handler looks the number up, so it only ever
  // reads a record that is still owned here. A new search takes the records
  // out of the result set, but one whose message is still queued moves to
  // m_searchHeld and lives until that message has been handled.
  struct SearchResult {
    uint64_t id;
    std::unique_ptr<SearchResultRecord> record;
    bool queued;  // its message is posted and not yet handled
  };
  std::mutex m_searchLock;
  std::list<SearchResult> m_searchResults;
  std::list<SearchResult> m_searchHeld;  // out of the result set, message queued
  uint64_t m_searchSerial = 0;           // under m_searchLock
};

}  // namespace lumvara::control
