// What the lumvara-view tests share: the program as a child process, a
// private X server, ImageMagick's reading of pictures, the simulator.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apps/camsim/camera_simulator.h"

namespace view_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using lumvara::camsim::CameraSimulator;
using lumvara::camsim::SimulatorOptions;

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kPwd = "secret";

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command line; returns its standard output.
inline std::string Shell(const std::string& command, int* exit_code = nullptr) {
  std::string out;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> chunk{};
  size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), got);
  const int status = ::pclose(pipe);
  if (exit_code) *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

template <typename Pred>
bool WaitFor(Pred done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Regular files ending in `extension` under `folder` (recursively), sorted.
inline std::vector<std::string> FilesUnder(const std::string& folder, const std::string& extension) {
  std::vector<std::string> files;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
    if (entry.is_regular_file() && entry.path().extension() == extension) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A folder of its own under the test's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/lumvara-view-test-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

  std::vector<std::string> Files(const std::string& extension) const;

 private:
  std::string path_;
};

inline std::vector<std::string> TempDir::Files(const std::string& extension) const {
  return FilesUnder(path_, extension);
}

// The sanitizer runtime of a sanitized lumvara-view reads these: libraries
// below SDL and the sound and text stacks keep process-wide state that they
// release only at a full shutdown, or race inside themselves.
inline void AddSanitizerSuppressions() {
  const std::string dir = LUMVARA_VIEW_TEST_DIR;
  const auto add = [](const char* variable, const std::string& file) {
    const char* old = std::getenv(variable);
    std::string value = old != nullptr && *old != '\0' ? std::string(old) + ":" : std::string();
    if (value.find("suppressions=") != std::string::npos) return;
    ::setenv(variable, (value + "suppressions=" + file).c_str(), 1);
  };
  add("LSAN_OPTIONS", dir + "/lsan.supp");
  add("TSAN_OPTIONS", dir + "/tsan.supp");
}

// Variables set (or, with an empty value and `unset`, removed) in a child's
// environment on top of this process's.
struct EnvSetting {
  std::string name;
  std::string value;
  bool unset = false;
};

// This process's environment with `settings` applied, as execve wants it.
inline std::vector<std::string> ChildEnvironment(const std::vector<EnvSetting>& settings) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    const bool replaced =
        std::any_of(settings.begin(), settings.end(), [&](const EnvSetting& s) { return s.name == name; });
    if (!replaced) env.push_back(text);
  }
  for (const EnvSetting& s : settings) {
    if (!s.unset) env.push_back(s.name + "=" + s.value);
  }
  return env;
}

// lumvara-view (or another program) as a child process, its standard output
// and error in a file. `env` goes on top of this process's environment;
// DISPLAY is `display` (unset when empty) and WAYLAND_DISPLAY is unset.
class ViewProcess {
 public:
  ViewProcess(const std::vector<std::string>& arguments, const std::string& display = "",
              const std::vector<EnvSetting>& env = {}, const std::string& program = LUMVARA_VIEW_PATH)
      : log_(std::tmpfile()) {
    AddSanitizerSuppressions();
    std::vector<EnvSetting> settings = env;
    settings.push_back({"WAYLAND_DISPLAY", "", true});
    settings.push_back({"DISPLAY", display, display.empty()});
    // A missing sound server is part of what the program handles; it never
    // reaches the desktop's own.
    if (std::getenv("PULSE_SERVER") == nullptr) {
      settings.push_back({"PULSE_SERVER", "unix:/nonexistent/lumvara/pulse/native"});
    }
    std::vector<std::string> env_text = ChildEnvironment(settings);
    std::vector<char*> envp;
    for (auto& entry : env_text) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program;
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    argv.push_back(path.data());
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int fd = ::fileno(log_);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
      ::execve(path.c_str(), argv.data(), envp.data());
      _exit(127);
    }
  }
  ~ViewProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (log_ != nullptr) std::fclose(log_);
  }

  // The exit code, or -1 when it did not end within `limit` or died of a signal.
  int Wait(std::chrono::milliseconds limit) {
    if (exited_) return exit_code_;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      const pid_t got = ::waitpid(pid_, &status, WNOHANG);
      if (got == pid_) {
        exited_ = true;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exit_code_;
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

  std::string Output() const {
    std::fflush(log_);
    std::string text;
    std::array<char, 4096> chunk{};
    const int fd = ::fileno(log_);
    off_t at = 0;
    ssize_t got = 0;
    while ((got = ::pread(fd, chunk.data(), chunk.size(), at)) > 0) {
      text.append(chunk.data(), static_cast<size_t>(got));
      at += got;
    }
    return text;
  }

  bool Said(const std::string& text) const { return Output().find(text) != std::string::npos; }

  // How many whole lines of the output are exactly `line`.
  int Lines(const std::string& line) const {
    std::istringstream in(Output());
    std::string got;
    int count = 0;
    while (std::getline(in, got)) count += got == line ? 1 : 0;
    return count;
  }

 private:
  std::FILE* log_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int exit_code_ = -1;
};

// A private X server on a display number it picks itself, abstract local socket only.
class PrivateXServer {
 public:
  bool Start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      // Only the abstract local socket: a display number in use by another
      // server (another test's, with -nolock too) is then skipped rather
      // than shared through a replaced socket file. -noreset: the server
      // would otherwise reset each time its last client leaves (every
      // xdotool call before the viewer connects) and drop a viewer that
      // connects meanwhile.
      ::execl(kXvfb, "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp", "-nolisten",
              "unix", "-nolock", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) return false;
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) return false;
    display_ = ":" + number;
    // Ready once a client gets an answer.
    return WaitFor(
        [&] { return Running() && !Shell("DISPLAY=" + display_ + " xdotool getdisplaygeometry 2>/dev/null").empty(); },
        10s);
  }
  // The server process has not ended (an ended one is reaped here).
  bool Running() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  ~PrivateXServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// ImageMagick's reading of a picture: "FORMAT WIDTH HEIGHT", empty when it
// cannot read it.
inline std::string Identify(const std::string& file) {
  return Shell("identify -format '%m %w %h' " + Quoted(file) + " 2>/dev/null");
}

// Standard deviation of the picture's grey levels, 0 for a flat picture.
inline double Spread(const std::string& file) {
  const std::string out =
      Shell("convert " + Quoted(file) + " -colorspace Gray -format '%[fx:standard_deviation]' info: 2>/dev/null");
  return out.empty() ? 0.0 : std::stod(out);
}

// Standard deviation of the grey levels of a region "WxH+X+Y"; 1 when unreadable.
inline double RegionSpread(const std::string& file, const std::string& region) {
  const std::string out = Shell("convert " + Quoted(file) + " -crop " + region +
                                " -colorspace Gray -format '%[fx:standard_deviation]' info: 2>/dev/null");
  return out.empty() ? 1.0 : std::stod(out);
}

// Mean brightness (0..1) of a region "WxH+X+Y" of a picture; 1 when unreadable.
inline double Mean(const std::string& file, const std::string& region) {
  const std::string out = Shell("convert " + Quoted(file) + " -crop " + region +
                                " -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null");
  return out.empty() ? 1.0 : std::stod(out);
}

// The share (0..1) of a region "WxH+X+Y" darker than 8 % grey: the
// simulator's text boxes are, its gradient never is. 0 when unreadable.
inline double DarkShare(const std::string& file, const std::string& region) {
  const std::string out = Shell("convert " + Quoted(file) + " -crop " + region +
                                " -colorspace Gray -threshold 8% -format '%[fx:mean]' info: 2>/dev/null");
  return out.empty() ? 0.0 : 1.0 - std::stod(out);
}

// The share (0..1) of a region brighter than 80 % grey: the test pattern's
// gradient never is. 0 when unreadable.
inline double BrightShare(const std::string& file, const std::string& region) {
  const std::string out = Shell("convert " + Quoted(file) + " -crop " + region +
                                " -colorspace Gray -threshold 80% -format '%[fx:mean]' info: 2>/dev/null");
  return out.empty() ? 0.0 : std::stod(out);
}

// Pixels that differ between two pictures of the same size.
inline long DifferingPixels(const std::string& a, const std::string& b) {
  // compare prints the count on standard error and exits 1 when they differ.
  const std::string out = Shell("compare -metric AE " + Quoted(a) + " " + Quoted(b) + " null: 2>&1");
  return out.empty() ? -1 : std::atol(out.c_str());
}

// The simulator on loopback, and the control's settings file: snapshots and
// recordings go to media().
class ViewAgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    SimulatorOptions options;
    options.pwd = kPwd;
    simulator_ = std::make_unique<CameraSimulator>(options);
    ASSERT_TRUE(simulator_->start()) << simulator_->lastError();
    camera_ = "127.0.0.1:" + std::to_string(simulator_->port());
    media_ = work_.path() + "/media";
    fs::create_directories(media_);
    ini_ = work_.path() + "/Lumvara.ini";
    std::ofstream(ini_) << "[PATH]\nSETPATH=" << media_ << "\n";
  }

  std::vector<std::string> Camera(std::vector<std::string> more) const {
    std::vector<std::string> arguments = {camera_, "--user", "admin", "--pwd", kPwd};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  // The viewer's environment: its own settings file, a folder chooser that
  // answers `chosen_folder_` (empty: cancelled).
  std::vector<EnvSetting> Env() const {
    return {{"LUMVARA_INI", ini_}, {"LUMVARA_FOLDER_PICKER_CHOICE", chosen_folder_}};
  }

  const std::string& media() const { return media_; }

  std::unique_ptr<CameraSimulator> simulator_;
  std::string camera_;
  TempDir work_;
  std::string media_;
  std::string ini_;
  std::string chosen_folder_;
};

// The output holds the line "MessageNotify 2 0" (the control connecting).
inline bool PrintedConnecting(const ViewProcess& view) { return view.Lines("MessageNotify 2 0") > 0; }

// The viewer's desktop window on a private X server, driven with xdotool.
class ViewWindow : public ViewAgainstSimulator {
 protected:
  void SetUp() override {
    if (::access(kXvfb, X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    if (!HaveTool("xdotool")) GTEST_SKIP() << "xdotool is not installed (package xdotool)";
    if (!HaveTool("import")) GTEST_SKIP() << "ImageMagick is not installed";
    ViewAgainstSimulator::SetUp();
    ASSERT_TRUE(server_.Start()) << "Xvfb did not start";
  }

  std::string X(const std::string& command) {
    return Shell("DISPLAY=" + server_.display() + " " + command + " 2>/dev/null");
  }

  // The viewer's window id, once it exists.
  std::string FindWindow() {
    std::string id;
    WaitFor(
        [&] {
          std::istringstream ids(X("xdotool search --name '^lumvara-view'"));
          return static_cast<bool>(ids >> id);
        },
        20s);
    return id;
  }

  std::string Title(const std::string& id) {
    std::string title = X("xdotool getwindowname " + id);
    while (!title.empty() && title.back() == '\n') title.pop_back();
    return title;
  }

  bool TitleSays(const std::string& id, const std::string& text) { return Title(id).find(text) != std::string::npos; }

  std::string Size(const std::string& id) {
    const std::string out = X("xdotool getwindowgeometry " + id);
    std::smatch match;
    return std::regex_search(out, match, std::regex("Geometry: (\\d+x\\d+)")) ? match[1].str() : "";
  }

  // A visible window of exactly `size` ("WxH"), or "".
  std::string WindowOfSize(const std::string& size) {
    std::istringstream ids(X("xdotool search --onlyvisible --name ''"));
    std::string id;
    while (ids >> id) {
      if (Size(id) == size) return id;
    }
    return "";
  }

  void Key(const std::string& id, const std::string& key) { X("xdotool windowfocus --sync " + id + " key " + key); }

  // What the X server shows of the screen's top left `size` pixels (the
  // window sits there: no window manager moves it).
  std::string Grab(const TempDir& dir, const std::string& name, const std::string& size = "640x360") {
    const std::string file = dir.path() + "/" + name + ".png";
    X("import -window root -crop " + size + "+0+0 " + Quoted(file));
    return file;
  }

  PrivateXServer server_;
};

}  // namespace view_test
