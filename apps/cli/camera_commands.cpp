// live, params, ptz, alias and reboot: the commands that drive one camera.

#include <lumvara/device.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include <nlohmann/json.hpp>

#include "apps/cli/commands.h"
#include "apps/cli/param_fields.h"
#include "apps/cli/stream_writer.h"
#include "apps/cli/wav_writer.h"

namespace lumvara::cli {

namespace {

// Long enough for a name lookup, a 3 s connect bound and a slow answer.
constexpr int kAnswerTimeoutMs = 10000;
constexpr int kConnectOutcomeTimeoutMs = 15000;

std::string where(const CameraTarget& target) { return target.host + ":" + std::to_string(target.port); }

int noAnswer(const CameraTarget& target) {
  return fail(kExitUnreachable, "no answer from " + where(target) + " (unreachable, or the request failed)");
}

const char* refusalText(int event) {
  switch (event) {
    case LUMVARA_EVENT_LOGIN_REFUSED:
      return "login refused: user or password wrong";
    case LUMVARA_EVENT_TOO_MANY_USERS:
      return "refused: the camera's connection limit is reached";
    case LUMVARA_EVENT_REQUEST_ERROR:
      return "refused: request type error";
    default:
      return "refused";
  }
}

bool isControlCode(int code) {
  return (code >= 0 && code <= 7) || code == 11 || (code >= 25 && code <= 29) || (code >= 90 && code <= 95);
}

std::string jsonText(const nlohmann::ordered_json& value) {
  return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Waits for a quick read to come back: commands run one at a time, so once
// its answer is in, every command queued before it has been sent.
bool drainCommands(CameraSession& session) {
  session.forgetRecord(LUMVARA_CMD_SET_MAIL);
  device_net_work_get_network(session.handle(), LUMVARA_CMD_GET_MISC);
  std::vector<uint8_t> record;
  return session.waitForRecord(LUMVARA_CMD_SET_MAIL, record, kAnswerTimeoutMs);
}

}  // namespace

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "lumvara-cli: %s\n", message.c_str());
  return code;
}

int runLive(const LiveOptions& options) {
  if (options.seconds <= 0 || options.seconds > 86400) {
    return fail(kExitBadInput, "--seconds must lie in (0, 86400]");
  }
  StreamWriter writer(options.out, false);
  if (!writer.opened()) {
    return fail(kExitFailure, "cannot create " + options.out + ": " + std::strerror(errno));
  }
  CameraSession session(options.target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  device_net_work_startStream(session.handle(), options.stream, StreamWriter::onFrame, &writer);
  const int outcome =
      session.waitForEvent({LUMVARA_EVENT_CONNECTED, LUMVARA_EVENT_CONNECT_FAILED}, kConnectOutcomeTimeoutMs);
  if (outcome != LUMVARA_EVENT_CONNECTED) {
    device_net_work_stopStream(session.handle());
    return fail(kExitUnreachable, "cannot connect to " + where(options.target));
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.seconds);
  int refusal = -1;
  while (std::chrono::steady_clock::now() < end) {
    refusal = session.waitForEvent(
        {LUMVARA_EVENT_LOGIN_REFUSED, LUMVARA_EVENT_TOO_MANY_USERS, LUMVARA_EVENT_REQUEST_ERROR}, 50);
    if (refusal >= 0) {
      break;
    }
  }
  // No data callback runs after stopStream returns, so the file is ours.
  device_net_work_stopStream(session.handle());
  const bool written = writer.close();
  if (refusal >= 0) {
    return fail(kExitRefused, refusalText(refusal));
  }
  if (!written) {
    return fail(kExitFailure, "writing " + options.out + " failed");
  }
  if (session.sawEvent(LUMVARA_EVENT_VIDEO_LOSS)) {
    std::fprintf(stderr, "lumvara-cli: the camera reported video loss\n");
  }
  std::printf("frames=%llu keyframes=%llu bytes=%llu\n", static_cast<unsigned long long>(writer.frames()),
              static_cast<unsigned long long>(writer.keyFrames()), static_cast<unsigned long long>(writer.bytes()));
  if (writer.frames() == 0) {
    return fail(kExitFailure, "no video arrived");
  }
  return kExitOk;
}

int runAudio(const AudioOptions& options) {
  if (options.seconds <= 0 || options.seconds > 86400) {
    return fail(kExitBadInput, "--seconds must lie in (0, 86400]");
  }
  WavWriter writer(options.out);
  if (!writer.opened()) {
    return fail(kExitFailure, "cannot create " + options.out + ": " + std::strerror(errno));
  }
  CameraSession session(options.target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  if (device_net_work_startAudio(session.handle(), options.stream, WavWriter::onFrame, &writer) != 1) {
    return fail(kExitUnreachable, "cannot connect to " + where(options.target));
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
  // No data callback runs after stopAudio returns, so the file is ours.
  device_net_work_stopAudio(session.handle());
  if (!writer.close()) {
    return fail(kExitFailure, "writing " + options.out + " failed");
  }
  std::printf("samples=%llu\n", static_cast<unsigned long long>(writer.alawSamples()));
  if (writer.alawSamples() == 0 && writer.adpcmFrames() > 0) {
    return fail(kExitFailure, "the camera sends IMA ADPCM audio, which cannot be written as WAV");
  }
  if (writer.alawSamples() == 0) {
    return fail(kExitFailure, "no audio arrived");
  }
  return kExitOk;
}

int runParamsGet(const ParamsOptions& options) {
  const ParamGroup* group = findParamGroup(options.group);
  if (group == nullptr || group->getCode < 0) {
    return fail(kExitBadInput, "cannot read '" + options.group + "'");
  }
  CameraSession session(options.target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  session.listenForParams();
  device_net_work_get_network(session.handle(), group->getCode);
  std::vector<uint8_t> record;
  if (!session.waitForRecord(group->reportCode, record, kAnswerTimeoutMs)) {
    return noAnswer(options.target);
  }
  const bool scan = group->fields.empty();
  if (options.json) {
    std::printf("%s\n", jsonText(scan ? wifiScanToJson(record) : recordToJson(*group, record)).c_str());
  } else {
    std::printf("%s", (scan ? formatWifiScan(record) : formatRecord(*group, record)).c_str());
  }
  return kExitOk;
}

int runParamsSet(const ParamsOptions& options) {
  const ParamGroup* group = findParamGroup(options.group);
  if (group == nullptr || group->setCode < 0) {
    return fail(kExitBadInput, "cannot write '" + options.group + "'");
  }
  if (options.assignments.empty()) {
    return fail(kExitBadInput, "nothing to set: give FIELD=VALUE");
  }
  std::vector<uint8_t> record(group->recordSize, 0);
  std::string error;
  for (const auto& assignment : options.assignments) {
    if (!applyAssignment(*group, record, assignment, error)) {
      return fail(kExitBadInput, error);
    }
  }
  CameraSession session(options.target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  session.listenForParams();
  // Fields not given keep the camera's current values.
  if (group->getCode >= 0) {
    device_net_work_get_network(session.handle(), group->getCode);
    if (!session.waitForRecord(group->reportCode, record, kAnswerTimeoutMs)) {
      return noAnswer(options.target);
    }
    record.resize(group->recordSize, 0);
    for (const auto& assignment : options.assignments) {
      applyAssignment(*group, record, assignment, error);
    }
  }
  if (device_net_work_set_network(session.handle(), group->setCode, reinterpret_cast<const char*>(record.data()),
                                  static_cast<int>(record.size())) != 1) {
    return fail(kExitFailure, "the device refused the request");
  }
  int result = -1;
  if (!session.waitForResult(group->setCode, result, kAnswerTimeoutMs)) {
    return noAnswer(options.target);
  }
  if (result != 0) {
    return fail(kExitRefused, "the camera refused the settings");
  }
  std::printf("accepted\n");
  return kExitOk;
}

int runPtz(const CameraTarget& target, int code) {
  if (!isControlCode(code)) {
    return fail(kExitBadInput, "not a camera control code: " + std::to_string(code) + " (0-7, 11, 25-29, 90-95)");
  }
  CameraSession session(target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  session.listenForParams();
  device_net_work_ptz(session.handle(), code);
  if (!drainCommands(session)) {
    return noAnswer(target);
  }
  std::printf("sent\n");
  return kExitOk;
}

int runAlias(const CameraTarget& target, const std::string& name) {
  if (name.empty() || name.size() >= 64 || name.find_first_of("\r\n") != std::string::npos) {
    return fail(kExitBadInput, "the alias must be 1 to 63 bytes without line breaks");
  }
  CameraSession session(target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  session.listenForParams();
  char payload[64] = {};
  std::memcpy(payload, name.data(), name.size());
  device_net_work_set_network(session.handle(), LUMVARA_CMD_SET_ALIAS, payload, sizeof payload);
  int result = -1;
  if (!session.waitForResult(LUMVARA_CMD_SET_ALIAS, result, kAnswerTimeoutMs)) {
    return noAnswer(target);
  }
  if (result != 0) {
    return fail(kExitRefused, "the camera refused the alias");
  }
  std::printf("accepted\n");
  return kExitOk;
}

int runReboot(const CameraTarget& target) {
  CameraSession session(target);
  if (!session.valid()) {
    return fail(kExitFailure, "cannot create the camera device");
  }
  session.listenForParams();
  // A read first proves the camera answers; the reboot request itself has
  // no answer worth reading.
  if (!drainCommands(session)) {
    return noAnswer(target);
  }
  device_net_work_get_network(session.handle(), LUMVARA_CMD_REBOOT);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::printf("reboot requested\n");
  return kExitOk;
}

}  // namespace lumvara::cli
