// The PulseAudio mixer backend.
#include "platform/mixer/mixer_backends.h"

#include "platform/wave/pulse_connection.h"

namespace lumvara {
namespace {

constexpr const char* kDefaultSink = "@DEFAULT_SINK@";
constexpr const char* kDefaultSource = "@DEFAULT_SOURCE@";

struct ReadRequest {
  PulseConnection* connection;
  std::optional<MixerControl> control;
};

template <typename Info>
void OnInfo(pa_context*, const Info* info, int eol, void* userdata) {
  auto* request = static_cast<ReadRequest*>(userdata);
  if (eol == 0 && info && !request->control) {
    request->control = MixerControl{pa_cvolume_max(&info->volume), info->mute != 0, info->volume.channels};
  }
  if (eol != 0) request->connection->Signal();
}

struct SetRequest {
  PulseConnection* connection;
  bool success = false;
};

void OnSet(pa_context*, int success, void* userdata) {
  auto* request = static_cast<SetRequest*>(userdata);
  request->success = success != 0;
  request->connection->Signal();
}

// Volume and mute of the default sink and source; one short-lived server
// connection per object, every call waiting for the server's answer.
class PulseMixer final : public MixerDevice {
 public:
  static std::unique_ptr<PulseMixer> Open();

  std::optional<MixerControl> Read(MixerLine line) override;
  bool SetVolume(MixerLine line, std::uint32_t volume) override;
  bool SetMute(MixerLine line, bool muted) override;

 private:
  PulseMixer() = default;
  std::unique_ptr<PulseConnection> connection_;
};

std::unique_ptr<PulseMixer> PulseMixer::Open() {
  std::unique_ptr<PulseMixer> mixer(new PulseMixer());
  mixer->connection_ = PulseConnection::Connect("lumvara mixer");
  if (!mixer->connection_) return nullptr;
  return mixer;
}

std::optional<MixerControl> PulseMixer::Read(MixerLine line) {
  ReadRequest request{connection_.get(), std::nullopt};
  pa_operation* op = nullptr;
  {
    PulseLock lock(*connection_);
    pa_context* context = connection_->Context();
    op = line == MixerLine::kSpeakers
             ? pa_context_get_sink_info_by_name(context, kDefaultSink, &OnInfo<pa_sink_info>, &request)
             : pa_context_get_source_info_by_name(context, kDefaultSource, &OnInfo<pa_source_info>, &request);
  }
  if (!connection_->Wait(op)) return std::nullopt;
  return request.control;
}

bool PulseMixer::SetVolume(MixerLine line, std::uint32_t volume) {
  // Every channel of the line gets the value, so the line's channel count
  // comes first.
  const std::optional<MixerControl> current = Read(line);
  if (!current || volume > kMixerVolumeLimit) return false;
  SetRequest request{connection_.get()};
  pa_operation* op = nullptr;
  {
    PulseLock lock(*connection_);
    pa_context* context = connection_->Context();
    pa_cvolume cv;
    pa_cvolume_set(&cv, current->channels, volume);
    op = line == MixerLine::kSpeakers
             ? pa_context_set_sink_volume_by_name(context, kDefaultSink, &cv, &OnSet, &request)
             : pa_context_set_source_volume_by_name(context, kDefaultSource, &cv, &OnSet, &request);
  }
  return connection_->Wait(op) && request.success;
}

bool PulseMixer::SetMute(MixerLine line, bool muted) {
  SetRequest request{connection_.get()};
  pa_operation* op = nullptr;
  {
    PulseLock lock(*connection_);
    pa_context* context = connection_->Context();
    op = line == MixerLine::kSpeakers
             ? pa_context_set_sink_mute_by_name(context, kDefaultSink, muted, &OnSet, &request)
             : pa_context_set_source_mute_by_name(context, kDefaultSource, muted, &OnSet, &request);
  }
  return connection_->Wait(op) && request.success;
}

}  // namespace

std::unique_ptr<MixerDevice> OpenPulseMixer() { return PulseMixer::Open(); }

}  // namespace lumvara
