#pragma once
// The sub-commands of lumvara-cli. Each returns the process exit code
// (camera_session.h) and prints one line to stderr on failure.

#include <string>
#include <vector>

#include "apps/cli/camera_session.h"

namespace lumvara::cli {

struct SearchOptions {
  double seconds = 3;
  bool json = false;
};
int runSearch(const SearchOptions& options);

struct LiveOptions {
  CameraTarget target;
  int stream = 0;
  double seconds = 10;
  std::string out;
};
int runLive(const LiveOptions& options);

struct AudioOptions {
  CameraTarget target;
  int stream = 2;
  double seconds = 10;
  std::string out;
};
int runAudio(const AudioOptions& options);

struct ParamsOptions {
  CameraTarget target;
  std::string group;
  std::vector<std::string> assignments;  // set only
  bool json = false;
};
int runParamsGet(const ParamsOptions& options);
int runParamsSet(const ParamsOptions& options);

int runPtz(const CameraTarget& target, int code);
int runAlias(const CameraTarget& target, const std::string& name);
int runReboot(const CameraTarget& target);

struct RecordsListOptions {
  CameraTarget target;
  std::string from;
  std::string to;
  bool json = false;
};
int runRecordsList(const RecordsListOptions& options);

struct RecordsPlayOptions {
  CameraTarget target;
  std::string name;
  int offset = 0;
  std::string out;
  bool wholeFrames = false;
  double seconds = 60;
};
int runRecordsPlay(const RecordsPlayOptions& options);

// Prints "lumvara-cli: <message>" to stderr and returns `code`.
int fail(int code, const std::string& message);

}  // namespace lumvara::cli
