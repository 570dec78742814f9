// The file backend's mixer: the speakers are the level of file playback, the
// microphone that of file capture (platform/wave/wave_file.h). Both lines
// always exist, with one channel; values last for the process.
#include "platform/mixer/mixer_backends.h"

#include "platform/wave/wave_file.h"

namespace lumvara {
namespace {

FileLineLevel& LevelOf(MixerLine line) {
  return line == MixerLine::kSpeakers ? FilePlaybackLevel() : FileCaptureLevel();
}

class FileMixer final : public MixerDevice {
 public:
  std::optional<MixerControl> Read(MixerLine line) override {
    const FileLineLevel& level = LevelOf(line);
    return MixerControl{level.volume.load(), level.muted.load(), 1};
  }

  bool SetVolume(MixerLine line, std::uint32_t volume) override {
    if (volume > kMixerVolumeLimit) return false;
    LevelOf(line).volume.store(volume);
    return true;
  }

  bool SetMute(MixerLine line, bool muted) override {
    LevelOf(line).muted.store(muted);
    return true;
  }
};

}  // namespace

std::unique_ptr<MixerDevice> OpenFileMixer() { return std::make_unique<FileMixer>(); }

}  // namespace lumvara
