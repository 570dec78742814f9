// The SD card: the record list (get_record_file.cgi) and playback of one
// recording on the live stream's port (stream id 4), from a byte offset.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>

#include "apps/camsim/camera_simulator_impl.h"
#include "apps/camsim/jpeg_test_pattern.h"
#include "apps/camsim/stream_frame.h"

namespace lumvara::camsim {

using std::chrono::milliseconds;

std::string CameraSimulator::Impl::recordListBody(const HttpRequest& request) {
  const long long from =
      request.has("startdate") ? std::atoll(request.value("startdate").c_str()) : std::numeric_limits<long long>::min();
  const long long to =
      request.has("enddate") ? std::atoll(request.value("enddate").c_str()) : std::numeric_limits<long long>::max();
  std::vector<Recording> recordings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    recordings = recordings_;
  }
  std::string items;
  int count = 0;
  for (const Recording& recording : recordings) {
    const long long start = static_cast<long long>(recording.start);
    if (start < from || start > to) continue;
    const auto bytes = bytesOf(recording.name);
    const size_t size = bytes ? bytes->size() : 0;
    items += "var record_name0[" + std::to_string(count) + "]=\"" + recording.name + "\";\r\n";
    items += "var record_size0[" + std::to_string(count) + "]=" + std::to_string(size) + ";\r\n";
    ++count;
  }
  return "var record_num0=" + std::to_string(count) + ";\r\n" + items;
}

std::shared_ptr<const std::vector<uint8_t>> CameraSimulator::Impl::bytesOf(const std::string& name) {
  Recording recording;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto cached = recordingBytes_.find(name);
    if (cached != recordingBytes_.end()) return cached->second;
    auto it = std::find_if(recordings_.begin(), recordings_.end(), [&](const Recording& r) { return r.name == name; });
    if (it == recordings_.end()) return nullptr;
    recording = *it;
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  H264TestPattern h264(options_.width, options_.height, options_.fps, options_.gop);
  JpegTestPattern jpeg(options_.width, options_.height);
  if (!recording.mjpeg && !h264.ok()) return nullptr;
  const int fps = std::max(options_.fps, 1);
  for (uint32_t i = 0; i < recording.frames; ++i) {
    const std::time_t time = recording.start + static_cast<std::time_t>(i / fps);
    const std::time_t shown = time - static_cast<std::time_t>(zone_) * 3600;
    FrameFields fields;
    std::vector<uint8_t> payload;
    if (recording.mjpeg) {
      payload = jpeg.encode(i, shown);
      fields.kind = kKindJpeg;
    } else {
      AccessUnit unit = h264.encode(i, shown);
      payload = std::move(unit.bytes);
      fields.kind = unit.key ? kKindH264Key : kKindH264Other;
    }
    if (payload.empty()) return nullptr;
    fields.time = static_cast<uint32_t>(time);
    fields.seq = i;
    fields.zone = zone_;
    const std::vector<uint8_t> frame = buildFrame(fields, payload.data(), payload.size());
    bytes->insert(bytes->end(), frame.begin(), frame.end());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return recordingBytes_.emplace(name, std::move(bytes)).first->second;
}

void CameraSimulator::Impl::servePlayback(ConnectionLink& link, const HttpRequest& request) {
  if (!credentialsMatch(request.value("user"), request.value("pwd"))) {
    sendNotice(link, kKindLoginRefused);
    return;
  }
  const auto bytes = bytesOf(request.value("filename"));
  if (!bytes) return;  // no such recording: the camera just closes
  // Whole frames only: playback starts at the first frame that begins at or
  // after the requested byte offset.
  const long long offset = std::max(0LL, std::atoll(request.value("offset").c_str()));
  size_t position = 0;
  while (position < bytes->size() && static_cast<long long>(position) < offset) {
    position += kFrameHeaderSize + readFrameHeader(bytes->data() + position).length;
  }
  const auto period = options_.playback_fps > 0 ? milliseconds(1000) / options_.playback_fps : milliseconds(0);
  while (position < bytes->size()) {
    const size_t size = kFrameHeaderSize + readFrameHeader(bytes->data() + position).length;
    if (!link.send(bytes->data() + position, size)) return;
    position += size;
    if (period.count() > 0 && !link.sleep(period)) return;
  }
}

}  // namespace lumvara::camsim
