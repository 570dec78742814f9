// Camera audio (audiostream.cgi): a tone in ADPCM or A-law frames, paced at
// the sample rate, until the peer leaves.
#include <ctime>

#include "apps/camsim/camera_audio.h"
#include "apps/camsim/camera_simulator_impl.h"
#include "apps/camsim/stream_frame.h"

namespace lumvara::camsim {

using std::chrono::milliseconds;

void CameraSimulator::Impl::serveAudio(ConnectionLink& link, const HttpRequest& request) {
  if (!credentialsMatch(request.value("user"), request.value("pwd"))) {
    sendNotice(link, kKindLoginRefused);
    return;
  }
  const uint8_t kind = options_.audio_kind == kKindAdpcm ? kKindAdpcm : kKindAlaw;
  auto next = Clock::now();
  uint64_t sample = 0;
  uint32_t seq = 0;
  for (;;) {
    size_t samples = 0;
    const std::vector<uint8_t> payload = CameraAudioPayload(kind, options_.tone_hz, sample, &samples);
    sample += samples;
    FrameFields fields;
    fields.kind = kind;
    fields.time = static_cast<uint32_t>(std::time(nullptr));
    fields.seq = seq++;
    fields.zone = zone_;
    const std::vector<uint8_t> frame = buildFrame(fields, payload.data(), payload.size());
    if (!link.send(frame.data(), frame.size())) return;
    next += milliseconds(1000 * static_cast<int64_t>(samples) / kAudioRate);
    for (;;) {
      const auto wait = std::chrono::duration_cast<milliseconds>(next - Clock::now());
      if (wait.count() <= 0) break;
      const auto event = link.wait(static_cast<int>(wait.count()));
      if (event == ConnectionLink::Event::kStopped) return;
      if (event == ConnectionLink::Event::kReadable) {
        uint8_t sink[4096];
        if (link.receive(sink, sizeof sink) == 0) return;
      }
    }
  }
}

}  // namespace lumvara::camsim
