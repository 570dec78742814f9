// CLumvaraCtrl's SD-card playback and LAN camera search commands.
#include <lumvara/device.h>
#include <lumvara/search.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

#include "control/lumvara_ctrl.h"
#include "control/stream_players.h"
#include "control/video_view_dlg.h"
#include "net/device/live_device_list.h"
#include "net/device/net_device.h"
#include "platform/winsys/message_loop.h"
#include "player/drawing_token.h"
#include "player/live_player_list.h"
#include "player/net_stream_play.h"

namespace lumvara::control {

using namespace winsys;

namespace {

// The stream id that asks for the MJPEG player.
constexpr int32_t kMjpegStreamId = 3;
// Pause after each SD playback frame: at most 25 frames a second.
constexpr std::chrono::milliseconds kSdFramePause{40};
// The SD file name's buffer.
constexpr size_t kFileNameBytes = 512;
// Texts of a search answer passed on to the host.
constexpr size_t kSearchTextChars = 256;

std::string BoundedText(const char* field, size_t size) {
  return ConvertText(std::string(field, strnlen(field, size)), kSearchTextChars);
}

}  // namespace

int32_t CLumvaraCtrl::SdRecordFilePlay(const std::string& user, const std::string& pwd, const std::string& ServerIp,
                                       int32_t ServerPort, const std::string& FileName, int32_t streamid) {
  if (m_pDevice.load() != nullptr) return -1;
  char fileName[kFileNameBytes];
  CopyTextField(fileName, sizeof fileName, FileName, kFileNameText);
  if (fileName[0] == '\0') return -1;
  m_bWaitKeyFrame = 1;

  CNetStreamPlay* player = StartPlayer(streamid == kMjpegStreamId ? StreamPlayerKind::kMjpeg : StreamPlayerKind::kH264);
  // Playback is heard without OpenSound; SoundState stays as it is.
  if (isLivePlayer(player)) player->openSound();
  m_nSdBytes = 0;
  CNetDevice* device = StartDevice(user, pwd, ServerIp, ServerPort);
  if (isLiveDevice(device)) device->recordFileStart(fileName, &CLumvaraCtrl::OnSdFrame, this);
  return 0;
}

int CLumvaraCtrl::OnSdFrame(const unsigned char* frame, int length, void* context) {
  auto* self = static_cast<CLumvaraCtrl*>(context);
  if (frame == nullptr || length < static_cast<int>(sizeof(StreamFrameHeader))) return 0;
  const uint8_t kind = frame[offsetof(StreamFrameHeader, kind)];
  CNetStreamPlay* player = self->m_pPlayer.load();
  if (self->m_bWaitKeyFrame.load() == 1) {
    if (kind == LUMVARA_FRAME_KIND_H264_KEY || kind == LUMVARA_FRAME_KIND_JPEG) {
      if (isLivePlayer(player)) player->inputNetFrame(frame, static_cast<uint32_t>(length));
      self->m_bWaitKeyFrame = 0;
    }
  } else if (isLivePlayer(player)) {
    player->inputNetFrame(frame, static_cast<uint32_t>(length));
  }
  self->m_nSdBytes += length;
  PostMessage(self->m_hWnd, kMsgSdProgress, reinterpret_cast<WPARAM>(self), 0);
  if (self->m_bClosing.load() == 0) std::this_thread::sleep_for(kSdFramePause);
  return 0;
}

int32_t CLumvaraCtrl::SdRecordFileStop() {
  TearDownDevice(false);
  TearDownPlayer(false);
  return 0;
}

int32_t CLumvaraCtrl::SdRecordFileSetPos(int32_t pos) {
  CNetDevice* device = m_pDevice.load();
  if (device == nullptr) return 0;
  // The old position's frames end first (this waits for a frame callback in
  // progress), so none of them is counted from the new position; and the
  // wait for a key frame is armed before the first frame of the new
  // position can arrive.
  if (isLiveDevice(device)) device->recordFileStop();
  m_nSdBytes = pos;
  m_bWaitKeyFrame = 1;
  if (isLiveDevice(device)) device->recordFileSetPos(pos);
  return 0;
}

void CLumvaraCtrl::OnSearchCameras() {
  {
    std::lock_guard lock(m_searchLock);
    for (auto it = m_searchResults.begin(); it != m_searchResults.end();) {
      auto next = std::next(it);
      if (it->queued) m_searchHeld.splice(m_searchHeld.end(), m_searchResults, it);
      it = next;
    }
    m_searchResults.clear();
  }
  device_broadcast_search(&CLumvaraCtrl::OnSearchReply, this);
}

void CLumvaraCtrl::OnSearchReply(const SearchResultRecord* record, void* context) {
  auto* self = static_cast<CLumvaraCtrl*>(context);
  if (record == nullptr) return;
  const std::string ip(record->ip, strnlen(record->ip, sizeof record->ip));
  const SearchResultRecord* stored = nullptr;
  uint64_t id = 0;
  {
    std::lock_guard lock(self->m_searchLock);
    for (const auto& known : self->m_searchResults) {
      if (std::string(known.record->ip, strnlen(known.record->ip, sizeof known.record->ip)) == ip) return;
    }
    id = ++self->m_searchSerial;
    self->m_searchResults.push_back({id, std::make_unique<SearchResultRecord>(*record), true});
    stored = self->m_searchResults.back().record.get();
  }
  if (PostMessage(self->m_hWnd, kMsgSearchResult, reinterpret_cast<WPARAM>(stored), static_cast<LPARAM>(id))) return;
  // Nothing will be handled for it: the record stays only as a known camera.
  std::lock_guard lock(self->m_searchLock);
  for (auto& known : self->m_searchResults) {
    if (known.id == id) known.queued = false;
  }
  self->m_searchHeld.remove_if([id](const SearchResult& held) { return held.id == id; });
}

void CLumvaraCtrl::OnSearchResultMessage(uint64_t id) {
  SearchResultRecord record;
  {
    std::lock_guard lock(m_searchLock);
    bool found = false;
    for (auto& known : m_searchResults) {
      if (known.id == id) {
        record = *known.record;
        known.queued = false;
        found = true;
        break;
      }
    }
    if (!found) {
      // Emptied away by a newer search after it was posted: held until now.
      for (auto it = m_searchHeld.begin(); it != m_searchHeld.end(); ++it) {
        if (it->id == id) {
          record = *it->record;
          m_searchHeld.erase(it);
          found = true;
          break;
        }
      }
    }
    if (!found) return;
  }
  if (m_events == nullptr) return;
  const int32_t port = record.port;
  m_events->FireEvent(event_dispid::kOnCameraSearched,
                      {DispatchValue::Long(0), DispatchValue::String(BoundedText(record.name, sizeof record.name)),
                       DispatchValue::String(BoundedText(record.ip, sizeof record.ip)), DispatchValue::Long(port),
                       DispatchValue::Long(port), DispatchValue::Long(port), DispatchValue::Long(1)});
}

}  // namespace lumvara::control
