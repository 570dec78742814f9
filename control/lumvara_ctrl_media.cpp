// CLumvaraCtrl's media commands: snapshot, camera sound, talk, local
// recording, mirroring, user text over the video, the camera's alias, the
// version; and the settings commands.
#include <lumvara/device.h>
#include <lumvara/record.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "audio/wave_in.h"
#include "control/lumvara_ctrl.h"
#include "control/settings.h"
#include "net/device/live_device_list.h"
#include "net/device/net_device.h"
#include "player/live_player_list.h"
#include "player/net_stream_play.h"

namespace lumvara::control {

namespace {

// Audio stream the camera is always asked for.
constexpr int kAudioStreamId = 2;
// Text entries of the user text and of the time stamp.
constexpr int32_t kUserTextEntry = 0;
constexpr int32_t kTimeStampEntry = 1;
// The recording request takes at most this many bytes of each name.
constexpr size_t kRecordNameBytes = 256;
// The alias payload of the set-alias command.
constexpr int kAliasPayloadBytes = 64;

// The snapshot's file name: folder, camera tag and the local time down to
// the millisecond (not padded).
std::string SnapshotFileName(const std::string& folder, const std::string& tag) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char name[64];
  std::snprintf(name, sizeof name, "-%04d%02d%02d_%02d%02d%02d_%d.bmp", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
  return folder + "/" + tag + name;
}

OsdStringRecord UserTextRecord(const char* text) {
  OsdStringRecord record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(record.faceName, kSimSunFace, sizeof kSimSunFace);
  record.left = 5;
  record.top = 5;
  record.right = 325;
  record.bottom = 35;
  CopyTextField(record.text, sizeof record.text, text, sizeof record.text - 1);
  record.mode = 0;
  record.position = LUMVARA_OSD_TOP_LEFT;
  return record;
}

OsdStringRecord TimeStampRecord() {
  OsdStringRecord record;
  std::memset(&record, 0, sizeof record);
  record.left = 5;
  record.top = 25;
  record.right = 325;
  record.bottom = 55;
  record.mode = LUMVARA_OSD_MODE_TIME_STAMP;
  record.position = LUMVARA_OSD_BOTTOM_RIGHT;
  return record;
}

}  // namespace

std::string CLumvaraCtrl::ReadRecordFolder() const { return ReadRecordingFolder(m_strIniFile); }

int32_t CLumvaraCtrl::CapturePic() {
  const std::string folder = ReadRecordFolder();
  if (folder.empty()) return -1;
  const std::string fileName = SnapshotFileName(folder, m_strCameraTag);
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return -1;
  if (m_bOsdOn == 1) SetUserTextEntries();
  if (isLivePlayer(player)) player->capturePicture(fileName.c_str());
  return 0;
}

int32_t CLumvaraCtrl::OpenSound() {
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return -1;
  CNetDevice* device = m_pDevice.load();
  if (isLiveDevice(device)) device->startAudio(kAudioStreamId, &CLumvaraCtrl::OnLiveFrame, this);
  if (isLivePlayer(player)) player->openSound();
  SetStateProperty(m_SoundState, 1, &CLumvaraCtrl::OnSoundStateChanged);
  return 0;
}

int32_t CLumvaraCtrl::CloseSound() {
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return -1;
  CNetDevice* device = m_pDevice.load();
  if (isLiveDevice(device)) device->stopAudio();
  if (isLivePlayer(player)) player->closeSound();
  SetStateProperty(m_SoundState, 0, &CLumvaraCtrl::OnSoundStateChanged);
  return 0;
}

int32_t CLumvaraCtrl::StartTalk() {
  if (m_pWaveIn) return 0;
  m_pWaveIn.reset(new (std::nothrow) CWaveIn());
  if (!m_pWaveIn) return -1;
  // The result is not examined: TalkState reports what was asked for.
  m_pWaveIn->Start(&CLumvaraCtrl::OnTalkData, this);
  SetStateProperty(m_TalkState, 1, &CLumvaraCtrl::OnTalkStateChanged);
  return 0;
}

int32_t CLumvaraCtrl::StopTalk() {
  if (!m_pWaveIn) return -1;
  StopTalkCapture();
  SetStateProperty(m_TalkState, 0, &CLumvaraCtrl::OnTalkStateChanged);
  return 0;
}

int CLumvaraCtrl::OnTalkData(const unsigned char* data, int length, void* user) {
  auto* self = static_cast<CLumvaraCtrl*>(user);
  std::lock_guard lock(self->m_talkDeviceLock);
  CNetDevice* device = self->m_pDevice.load();
  if (isLiveDevice(device)) device->sendTalkData(reinterpret_cast<const char*>(data), length);
  return 1;
}

int32_t CLumvaraCtrl::StartRecord() {
  const std::string folder = ReadRecordFolder();
  if (folder.empty()) return -1;
  LocalRecordRequest request;
  std::memset(&request, 0, sizeof request);
  CopyTextField(request.rootPath, sizeof request.rootPath, folder, kRecordNameBytes);
  CopyTextField(request.cameraName, sizeof request.cameraName, m_strCameraTag, kRecordNameBytes);
  request.fileSizeMB = static_cast<uint32_t>(m_RecFileLen);
  request.fileMinutes = static_cast<uint32_t>(m_RecTimeLen);
  request.reservedMB = static_cast<uint32_t>(m_ReservedSpace);
  request.cover = static_cast<uint32_t>(m_RecCover);
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return -1;
  if (isLivePlayer(player)) player->startlocalrecord(request);
  SetStateProperty(m_RecordState, 1, &CLumvaraCtrl::OnRecordStateChanged);
  return 0;
}

int32_t CLumvaraCtrl::StopRecord() {
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return -1;
  if (isLivePlayer(player)) player->stoplocalrecord();
  SetStateProperty(m_RecordState, 0, &CLumvaraCtrl::OnRecordStateChanged);
  return 0;
}

int32_t CLumvaraCtrl::SetFlip(int32_t type) {
  CNetStreamPlay* player = m_pPlayer.load();
  if (player != nullptr && isLivePlayer(player)) player->setRenderEffect(type);
  return 0;
}

int32_t CLumvaraCtrl::SetOsd(const std::string& osd) {
  if (m_pPlayer.load() == nullptr) return 0;
  m_bOsdOn = 1;
  CopyTextField(m_szOsdText, sizeof m_szOsdText, osd, sizeof m_szOsdText - 1);
  SetUserTextEntries();
  return 0;
}

void CLumvaraCtrl::SetUserTextEntries() {
  CNetStreamPlay* player = m_pPlayer.load();
  // The entry's text field is shorter than the stored text: it is cut at a
  // character boundary to fit.
  const OsdStringRecord text = UserTextRecord(m_szOsdText);
  if (isLivePlayer(player)) player->setOsdString(kUserTextEntry, &text);
  const OsdStringRecord stamp = TimeStampRecord();
  if (isLivePlayer(player)) player->setOsdString(kTimeStampEntry, &stamp);
}

int32_t CLumvaraCtrl::RemoveOsd() {
  CNetStreamPlay* player = m_pPlayer.load();
  if (player == nullptr) return 0;
  m_bOsdOn = 0;
  if (isLivePlayer(player)) player->removeOsdstring(kUserTextEntry);
  if (isLivePlayer(player)) player->removeOsdstring(kTimeStampEntry);
  return 0;
}

int32_t CLumvaraCtrl::SetAlias(const std::string& alias) {
  CNetDevice* device = m_pDevice.load();
  if (device == nullptr) return -1;
  char payload[kAliasPayloadBytes];
  CopyTextField(payload, sizeof payload, alias, kAliasText);
  if (isLiveDevice(device)) device->setNetwork(LUMVARA_CMD_SET_ALIAS, payload, kAliasPayloadBytes);
  return 0;
}

int32_t CLumvaraCtrl::GetVersion() { return kControlVersion; }

// ---- Settings commands ----

void CLumvaraCtrl::SetPath() {
  ChooseRecordingFolder(m_strIniFile, [this](int dispid, const DispatchValue& value) { StoreSetting(dispid, value); });
}

void CLumvaraCtrl::SetRecordProperty(int32_t fileLen, int32_t timeLen, int32_t reserved, int32_t cover) {
  RecordLimits requested;
  requested.fileLen = fileLen;
  requested.timeLen = timeLen;
  requested.reservedSpace = reserved;
  requested.cover = cover;
  ApplyRecordProperty(m_strIniFile, requested,
                      [this](int dispid, const DispatchValue& value) { StoreSetting(dispid, value); });
}

}  // namespace lumvara::control
