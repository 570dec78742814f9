#pragma once
// One camera device for the length of a command, through the public C API
// only: creation from HOST:PORT and credentials, the events of its live
// stream, and waits for parameter records and set results.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace lumvara::cli {

// Exit codes of every sub-command.
enum ExitCode {
  kExitOk = 0,
  kExitFailure = 1,
  kExitBadInput = 2,
  kExitUnreachable = 3,
  kExitRefused = 4,
};

struct CameraTarget {
  std::string host;
  int port = 0;
  std::string user;
  std::string pwd;
};

// "HOST:PORT" (port 1..65535). False with a reason otherwise.
bool parseHostPort(const std::string& text, CameraTarget& target, std::string& error);

// Texts that the device record holds in 64 bytes, without line breaks.
bool checkTargetFields(const CameraTarget& target, std::string& error);

class CameraSession {
 public:
  explicit CameraSession(const CameraTarget& target);
  ~CameraSession();
  CameraSession(const CameraSession&) = delete;
  CameraSession& operator=(const CameraSession&) = delete;

  void* handle() const { return handle_; }
  bool valid() const { return handle_ != nullptr; }

  // Live-stream events: waits until one of `codes` has been seen (also
  // earlier); returns it, or -1 on time-out.
  int waitForEvent(std::initializer_list<int> codes, int timeoutMs);
  bool sawEvent(int code);

  // Installs the parameter callbacks; then the waits below work.
  void listenForParams();
  // The latest record reported under `code`, waiting up to timeoutMs.
  bool waitForRecord(int code, std::vector<uint8_t>& record, int timeoutMs);
  // The result (0 accepted, -1 refused) of the latest set under `code`.
  bool waitForResult(int code, int& result, int timeoutMs);
  void forgetRecord(int code);

 private:
  static int onEvent(int event, void* context);
  static int onParamData(int code, const void* record, int size, void* context);
  static int onParamResult(int code, int result);

  void* handle_ = nullptr;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<int> events_;
  std::map<int, std::vector<uint8_t>> records_;
  std::map<int, int> results_;
};

}  // namespace lumvara::cli
