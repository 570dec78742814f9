// The live stream (livestream.cgi) and the talk frames the client sends back
// on the same connection. One exchange reads as its steps: admit the client
// (credentials, then the connection limit), start the stream (the talk bytes
// that came behind the request head, the picture source), then stream until
// the connection ends: apply the scripted fault once its frame count is
// reached, send the notices due (queued, periodic alarms, video loss), send
// the frame due, take in talk until the next one. The end counts the
// connection out and keeps its talk as WAV, however the exchange stopped.
#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>

#include "apps/camsim/camera_audio.h"
#include "apps/camsim/camera_simulator_impl.h"
#include "apps/camsim/stream_frame.h"

namespace lumvara::camsim {
namespace {

using std::chrono::milliseconds;

constexpr uint32_t kOversizedLength = kMaxFramePayload + 1;
constexpr uint32_t kCorruptMagic = kFrameMagic ^ 0x80000000u;  // last byte on the wire differs
constexpr uint8_t kAlarmCycle[] = {kKindMotionAlarm, kKindMotionAlarmOver, kKindInputAlarm, kKindInputAlarmOver};

}  // namespace

class CameraSimulator::Impl::LiveSession {
 public:
  // Admits the connection: counts it in. Bytes that came in behind the
  // request head are the first talk bytes.
  LiveSession(Impl& sim, ConnectionLink& link, Connection& connection, const ConnectionScript& script)
      : sim_(sim),
        link_(link),
        connection_(connection),
        script_(script),
        scriptDone_(script.action == ConnectionScript::Action::kNone) {
    std::lock_guard<std::mutex> lock(sim_.mutex_);
    openLive_ = ++sim_.liveCount_;
    connection_.live = true;
    talkBuffer_.swap(link_.pending());
  }

  // Ends the exchange however it stopped: counts the connection out and
  // keeps its talk as WAV.
  ~LiveSession() {
    std::lock_guard<std::mutex> lock(sim_.mutex_);
    --sim_.liveCount_;
    connection_.live = false;
    if (talkSession_ >= 0 && !sim_.options_.talk_dir.empty()) {
      WriteWav(sim_.options_.talk_dir + "/talk-" + std::to_string(connection_.id) + ".wav",
               sim_.talk_[static_cast<size_t>(talkSession_)].pcm);
    }
  }

  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  // False when this connection is one more than the camera serves at once.
  bool withinLimit() const {
    std::lock_guard<std::mutex> lock(sim_.mutex_);
    return openLive_ <= sim_.maxConnections_;
  }

  // Takes the first talk bytes and opens the picture source; false when there
  // is nothing to show.
  bool startStream() {
    if (!talkBuffer_.empty()) sim_.receiveTalk(connection_.id, talkBuffer_, talkSession_);
    pattern_.emplace(sim_.options_.width, sim_.options_.height, sim_.options_.fps, sim_.options_.gop);
    if (sim_.fileUnits_.empty() && !pattern_->ok()) return false;
    framePeriod_ = milliseconds(1000) / std::max(sim_.options_.fps, 1);
    nextFrame_ = Clock::now();
    nextAlarm_ = Clock::now() + sim_.options_.alarm_interval;
    return true;
  }

  // One round of the stream; false once the connection is over.
  bool streamOnce() { return applyScriptedFault() && sendNotices() && sendDueFrame() && takeTalk(); }

 private:
  using Action = ConnectionScript::Action;

  // The scripted fault, once enough frames went out.
  bool applyScriptedFault() {
    if (scriptDone_ || sentFrames_ < script_.after_frames) return true;
    scriptDone_ = true;
    switch (script_.action) {
      case Action::kNotice:
        return sim_.sendNotice(link_, script_.notice_kind) && !script_.close_after_notice;
      case Action::kCorruptMagic:
      case Action::kOversizedLength:
        return sendBrokenFrame();
      case Action::kSilence:
        silent_ = true;
        return true;
      case Action::kClose:
        return false;
      default:
        return true;
    }
  }

  // A frame whose magic is wrong or whose length is beyond the largest payload.
  bool sendBrokenFrame() {
    FrameFields fields;
    fields.kind = kKindH264Other;
    fields.zone = sim_.zone_;
    const uint8_t filler[64] = {};
    std::vector<uint8_t> frame = buildFrame(fields, filler, sizeof filler);
    if (script_.action == Action::kCorruptMagic) {
      putLe32(frame.data() + kOffsetMagic, kCorruptMagic);
    } else {
      putLe32(frame.data() + kOffsetLength, kOversizedLength);
    }
    return link_.send(frame.data(), frame.size());
  }

  // Notices queued by raiseAlarm, the periodic alarm, and video loss once as
  // it begins. A silent connection drops them.
  bool sendNotices() {
    for (uint8_t kind : connection_.takeNotices()) {
      if (!silent_ && !sim_.sendNotice(link_, kind)) return false;
    }
    if (sim_.options_.alarm_interval.count() > 0 && Clock::now() >= nextAlarm_) {
      nextAlarm_ += sim_.options_.alarm_interval;
      const uint8_t kind = kAlarmCycle[alarmStep_++ % std::size(kAlarmCycle)];
      if (!silent_ && !sim_.sendNotice(link_, kind)) return false;
    }
    {
      std::lock_guard<std::mutex> lock(sim_.mutex_);
      lost_ = sim_.videoLoss_;
    }
    if (lost_ && !lossReported_ && !silent_) {
      if (!sim_.sendNotice(link_, kKindVideoLoss)) return false;
    }
    lossReported_ = lost_;
    return true;
  }

  // The next picture when its time has come (none while silent or lost).
  bool sendDueFrame() {
    const auto now = Clock::now();
    if (now < nextFrame_) return true;
    nextFrame_ += framePeriod_;
    if (now - nextFrame_ > milliseconds(1000)) nextFrame_ = now + framePeriod_;
    if (silent_ || lost_) return true;
    const auto time = std::time(nullptr);
    const AccessUnit unit = sim_.fileUnits_.empty()
                                ? pattern_->encode(index_, time - static_cast<std::time_t>(sim_.zone_) * 3600)
                                : sim_.fileUnits_[index_ % sim_.fileUnits_.size()];
    FrameFields fields;
    fields.kind = unit.key ? kKindH264Key : kKindH264Other;
    fields.time = static_cast<uint32_t>(time);
    fields.seq = index_;
    fields.zone = sim_.zone_;
    ++index_;
    const std::vector<uint8_t> frame = buildFrame(fields, unit.bytes.data(), unit.bytes.size());
    if (!link_.send(frame.data(), frame.size())) return false;
    ++sentFrames_;
    return true;
  }

  // Until the next frame is due, takes in what the client sends (talk frames).
  bool takeTalk() {
    const auto wait = std::chrono::duration_cast<milliseconds>(nextFrame_ - Clock::now());
    const auto event = link_.wait(static_cast<int>(std::max<int64_t>(wait.count(), 0)));
    if (event == ConnectionLink::Event::kStopped) return false;
    if (event != ConnectionLink::Event::kReadable) return true;
    uint8_t chunk[8192];
    const ssize_t n = link_.receive(chunk, sizeof chunk);
    if (n == 0) return false;
    if (n > 0) {
      talkBuffer_.insert(talkBuffer_.end(), chunk, chunk + n);
      sim_.receiveTalk(connection_.id, talkBuffer_, talkSession_);
    }
    return true;
  }

  Impl& sim_;
  ConnectionLink& link_;
  Connection& connection_;
  const ConnectionScript& script_;
  int openLive_ = 0;
  std::vector<uint8_t> talkBuffer_;
  int talkSession_ = -1;
  std::optional<H264TestPattern> pattern_;
  milliseconds framePeriod_{0};
  Clock::time_point nextFrame_;
  Clock::time_point nextAlarm_;
  size_t alarmStep_ = 0;
  uint32_t index_ = 0;
  uint32_t sentFrames_ = 0;
  bool scriptDone_;
  bool silent_ = false;
  bool lost_ = false;
  bool lossReported_ = false;
};

void CameraSimulator::Impl::serveLive(ConnectionLink& link, Connection& connection, const HttpRequest& request,
                                      const ConnectionScript& script) {
  if (!credentialsMatch(request.value("user"), request.value("pwd"))) {
    sendNotice(link, kKindLoginRefused);
    return;
  }
  LiveSession session(*this, link, connection, script);
  if (!session.withinLimit()) {
    sendNotice(link, kKindTooManyConnections);
    return;
  }
  if (!session.startStream()) return;
  while (session.streamOnce()) {
  }
}

void CameraSimulator::Impl::receiveTalk(uint32_t id, std::vector<uint8_t>& buffer, int& session) {
  size_t used = 0;
  while (buffer.size() - used >= kFrameHeaderSize) {
    const FrameFields fields = readFrameHeader(buffer.data() + used);
    if (fields.magic != kFrameMagic || fields.length > kMaxFramePayload) {
      buffer.clear();  // not our framing: drop what is held and start afresh
      return;
    }
    if (buffer.size() - used < kFrameHeaderSize + fields.length) break;
    if (fields.kind == kKindTalk) {
      const uint8_t* payload = buffer.data() + used + kFrameHeaderSize;
      std::lock_guard<std::mutex> lock(mutex_);
      if (session < 0) {
        talk_.push_back(TalkSession{id, {}, {}, {}, {}});
        session = static_cast<int>(talk_.size()) - 1;
      }
      TalkSession& talk = talk_[static_cast<size_t>(session)];
      talk.seqs.push_back(fields.seq);
      talk.lengths.push_back(fields.length);
      if (options_.keep_talk_audio) {
        talk.payload.insert(talk.payload.end(), payload, payload + fields.length);
        const std::vector<int16_t> pcm = DecodeTalk(payload, fields.length);
        talk.pcm.insert(talk.pcm.end(), pcm.begin(), pcm.end());
      }
      if (!options_.talk_dir.empty()) {
        std::ofstream raw(options_.talk_dir + "/talk-" + std::to_string(id) + ".raw", std::ios::binary | std::ios::app);
        raw.write(reinterpret_cast<const char*>(payload), fields.length);
      }
    }
    used += kFrameHeaderSize + fields.length;
  }
  buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
}

}  // namespace lumvara::camsim
