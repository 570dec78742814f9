// lumvara-cli: the camera client library from the command line, through
// its public C API only.

#include <CLI/CLI.hpp>

#include <cstdio>

#include "apps/cli/commands.h"
#include "apps/cli/param_fields.h"

namespace {

using namespace lumvara::cli;

// Adds the HOST:PORT argument and the credentials to a camera sub-command.
void addCameraOptions(CLI::App* command, std::string& hostPort, CameraTarget& target) {
  command->add_option("camera", hostPort, "camera address as HOST:PORT")->required();
  command->add_option("--user,-u", target.user, "user name")->default_val("admin");
  command->add_option("--pwd,-p", target.pwd, "password")->default_val("");
}

bool resolveTarget(const std::string& hostPort, CameraTarget& target, int& exitCode) {
  std::string error;
  if (!parseHostPort(hostPort, target, error) || !checkTargetFields(target, error)) {
    exitCode = fail(kExitBadInput, error);
    return false;
  }
  return true;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) {
    text += (text.empty() ? "" : "|") + name;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"lumvara-cli: find cameras, record their video, read and change their settings"};
  app.require_subcommand(1);

  SearchOptions search;
  auto* searchCommand = app.add_subcommand("search", "find cameras on the local network");
  searchCommand->add_option("--seconds", search.seconds, "how long to collect answers")->default_val(3);
  searchCommand->add_flag("--json", search.json, "print JSON");

  LiveOptions live;
  std::string liveCamera;
  auto* liveCommand = app.add_subcommand("live", "write the live H.264 stream to a file");
  addCameraOptions(liveCommand, liveCamera, live.target);
  liveCommand->add_option("--stream", live.stream, "stream id")->default_val(0);
  liveCommand->add_option("--seconds", live.seconds, "how long to record")->required();
  liveCommand->add_option("--out", live.out, "H.264 elementary stream file")->required();

  AudioOptions audio;
  std::string audioCamera;
  auto* audioCommand = app.add_subcommand("audio", "write the camera's A-law audio to a WAV file");
  addCameraOptions(audioCommand, audioCamera, audio.target);
  audioCommand->add_option("--stream", audio.stream, "stream id")->default_val(2);
  audioCommand->add_option("--seconds", audio.seconds, "how long to record")->required();
  audioCommand->add_option("--out", audio.out, "WAV file")->required();

  auto* paramsCommand = app.add_subcommand("params", "read or change camera settings");
  paramsCommand->require_subcommand(1);
  ParamsOptions params;
  std::string paramsCamera;
  auto* getCommand = paramsCommand->add_subcommand("get", "read a settings group");
  addCameraOptions(getCommand, paramsCamera, params.target);
  getCommand->add_option("group", params.group, joined(paramGroupNames(false)))->required();
  getCommand->add_flag("--json", params.json, "print JSON");
  auto* setCommand = paramsCommand->add_subcommand("set", "change fields of a settings group");
  addCameraOptions(setCommand, paramsCamera, params.target);
  setCommand->add_option("group", params.group, joined(paramGroupNames(true)))->required();
  setCommand->add_option("fields", params.assignments, "FIELD=VALUE ...")->required();

  CameraTarget target;
  std::string camera;
  int ptzCode = 0;
  auto* ptzCommand = app.add_subcommand("ptz", "send a camera control code (pan, tilt, ...)");
  addCameraOptions(ptzCommand, camera, target);
  ptzCommand->add_option("code", ptzCode, "control code: 0-7, 11, 25-29, 90-95")->required();

  std::string alias;
  auto* aliasCommand = app.add_subcommand("alias", "rename the camera");
  addCameraOptions(aliasCommand, camera, target);
  aliasCommand->add_option("name", alias, "new name")->required();

  auto* rebootCommand = app.add_subcommand("reboot", "restart the camera");
  addCameraOptions(rebootCommand, camera, target);

  auto* recordsCommand = app.add_subcommand("records", "the camera's SD-card recordings");
  recordsCommand->require_subcommand(1);
  RecordsListOptions list;
  std::string listCamera;
  auto* listCommand = recordsCommand->add_subcommand("list", "list recordings between two times");
  addCameraOptions(listCommand, listCamera, list.target);
  listCommand->add_option("--from", list.from, "YYYY-MM-DD[ HH:MM:SS]")->required();
  listCommand->add_option("--to", list.to, "YYYY-MM-DD[ HH:MM:SS]")->required();
  listCommand->add_flag("--json", list.json, "print JSON");
  RecordsPlayOptions play;
  std::string playCamera;
  auto* playCommand = recordsCommand->add_subcommand("play", "play a recording into a file");
  addCameraOptions(playCommand, playCamera, play.target);
  playCommand->add_option("name", play.name, "recording name")->required();
  playCommand->add_option("--offset", play.offset, "byte offset in the recording's frame stream")->default_val(0);
  playCommand->add_option("--out", play.out, "output file")->required();
  playCommand->add_flag("--frames", play.wholeFrames, "write whole frames, headers included");
  playCommand->add_option("--seconds", play.seconds, "longest playback")->default_val(60);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitBadInput;
  }

  int exitCode = kExitOk;
  if (searchCommand->parsed()) {
    return runSearch(search);
  }
  if (liveCommand->parsed()) {
    return resolveTarget(liveCamera, live.target, exitCode) ? runLive(live) : exitCode;
  }
  if (audioCommand->parsed()) {
    return resolveTarget(audioCamera, audio.target, exitCode) ? runAudio(audio) : exitCode;
  }
  if (getCommand->parsed()) {
    return resolveTarget(paramsCamera, params.target, exitCode) ? runParamsGet(params) : exitCode;
  }
  if (setCommand->parsed()) {
    return resolveTarget(paramsCamera, params.target, exitCode) ? runParamsSet(params) : exitCode;
  }
  if (ptzCommand->parsed()) {
    return resolveTarget(camera, target, exitCode) ? runPtz(target, ptzCode) : exitCode;
  }
  if (aliasCommand->parsed()) {
    return resolveTarget(camera, target, exitCode) ? runAlias(target, alias) : exitCode;
  }
  if (rebootCommand->parsed()) {
    return resolveTarget(camera, target, exitCode) ? runReboot(target) : exitCode;
  }
  if (listCommand->parsed()) {
    return resolveTarget(listCamera, list.target, exitCode) ? runRecordsList(list) : exitCode;
  }
  if (playCommand->parsed()) {
    return resolveTarget(playCamera, play.target, exitCode) ? runRecordsPlay(play) : exitCode;
  }
  return kExitBadInput;
}
