// lumvara-soak: a long run of the camera client, the players, sound, talk,
// recording and SD playback against the in-process camera simulator while a
// random fault schedule works on the connections. The client side uses the
// public C API only; the simulator is linked in for the camera's side.
//
//   lumvara-soak [--minutes M] [--seed N] [--work DIR] [--no-talk] [--no-sound]
//
// Four live views (device + H.264 player + sound each, recording on two,
// talk on one) and a fifth device playing an SD recording and seeking at
// random. Faults: silence past 5 s, corrupt magic, trickled and split
// delivery, refusals 201 to 203, closed connections, oversized lengths,
// camera reboots. At the end everything is stopped and these are checked:
// clang-format off
//   memory     resident memory grows by at most 5 MB after the first minute:
//              the mean over a window just after it against the mean over
//              the last window of the same length (judged in runs of
//              5 minutes or more; shorter runs print it)
//   fds        open descriptors return to their count before the views
//   threads    threads return to their count before the views
//   recordings every recording file decodes cleanly with ffmpeg and every
//              recording session left a file in its day folder
//   reconnects every reconnect came 5 to 8.5 s after the last sign of life
//   callbacks  no callback ran after the call that stopped it returned
//   liveness   every view shows video at the end, talk reached the camera
//              and SD playback resumed after every seek
// clang-format on
// The run prints what it injected and measured and exits 1 when a check
// fails. A watchdog ends the process with status 2 when it is still running
// one minute after its planned end (a hang is a failure too).
#include <lumvara/lumvara.h>

#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "apps/camsim/camera_simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using lumvara::camsim::CameraSimulator;
using lumvara::camsim::ConnectionScript;
using Action = lumvara::camsim::ConnectionScript::Action;

constexpr int kLiveViews = 4;
constexpr int kRecordingViews = 2;  // views 0 and 1 record
constexpr int kTalkView = 3;
constexpr int kLiveStream = 0;
constexpr int kAudioStream = 2;
constexpr double kReconnectMinSeconds = 5.0;
constexpr double kReconnectMaxSeconds = 8.5;
constexpr long kMemoryGrowthLimitKb = 5 * 1024;
constexpr int64_t kMemoryJudgedFromMs = 5 * 60 * 1000;  // runs shorter than this only print the figure
constexpr int kRecordingFrames = 250;                   // 10 s at 25 fps
constexpr int64_t kLivenessQuietMs = 10000;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// ---- What /proc says about this process ------------------------------------

long residentKb() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) {
      kb = std::strtol(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return kb;
}

// Resident memory swings by several MB while the run goes on: every fault that
// restarts a view frees its picture buffers and the new session allocates
// them again. Two single samples can land on opposite ends of that swing, so
// growth is judged on means: over a window starting at the baseline and over
// a window of the same length at the end (a quarter of the time between, at
// most five minutes). A leak lifts the second mean; the swing does not.
struct MemoryWindows {
  double baseTo = 0, length = 0;  // the first window starts at the baseline
  long baseMeanKb = -1, endMeanKb = -1;
};

MemoryWindows memoryWindowMeans(const std::vector<std::pair<double, long>>& samples, double baseAt) {
  MemoryWindows windows;
  if (samples.empty()) return windows;
  const double endAt = samples.back().first;
  windows.length = std::min(300.0, std::max(0.0, endAt - baseAt) / 4.0);
  windows.baseTo = baseAt + windows.length;
  const auto mean = [&](auto inWindow) {
    long long sum = 0;
    long count = 0;
    for (const auto& [at, kb] : samples) {
      if (inWindow(at)) {
        sum += kb;
        ++count;
      }
    }
    return count == 0 ? -1L : static_cast<long>(sum / count);
  };
  windows.baseMeanKb = mean([&](double at) { return at >= baseAt && at <= windows.baseTo; });
  windows.endMeanKb = mean([&](double at) { return at >= endAt - windows.length; });
  return windows;
}

int countEntries(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - (std::strcmp(folder, "/proc/self/fd") == 0 ? 1 : 0);  // the DIR's own
}

// What the in-process simulator has reserved for its record of talk frames:
// it grows with the run and is not the client's. The soak runs it without the
// frames' sound, so this is a few bytes a frame.
long simulatorTalkKb(const CameraSimulator& camera) { return static_cast<long>(camera.talkRecordBytes() / 1024); }

int openFds() { return countEntries("/proc/self/fd"); }
int threadCount() { return countEntries("/proc/self/task"); }

// ---- Fault kinds -----------------------------------------------------------

enum class Fault {
  kSilence,
  kCorruptMagic,
  kTrickle,
  kSplit,
  kRefusal201,
  kRefusal202,
  kRefusal203,
  kClose,
  kOversized,
  kReboot,
  kCount
};

const char* faultName(Fault fault) {
  switch (fault) {
    case Fault::kSilence:
      return "silence";
    case Fault::kCorruptMagic:
      return "corrupt-magic";
    case Fault::kTrickle:
      return "trickle";
    case Fault::kSplit:
      return "split";
    case Fault::kRefusal201:
      return "refusal-201";
    case Fault::kRefusal202:
      return "refusal-202";
    case Fault::kRefusal203:
      return "refusal-203";
    case Fault::kClose:
      return "close";
    case Fault::kOversized:
      return "oversized-length";
    case Fault::kReboot:
      return "reboot";
    case Fault::kCount:
      break;
  }
  return "?";
}

// ---- A view: what the callbacks share with the main thread -------------------

// A channel's "stopped" flag is set right after the call that stops it
// returns and cleared just before the call that starts it again; a callback
// that finds it set ran after its stop.
struct Channel {
  std::atomic<bool> stopped{true};
  std::atomic<uint64_t> calls{0};
  std::atomic<uint64_t> late{0};
  // Returns false (and counts it) for a call after the stop.
  bool enter() {
    calls.fetch_add(1);
    if (stopped.load()) {
      late.fetch_add(1);
      return false;
    }
    return true;
  }
};

struct View {
  int index = 0;
  void* device = nullptr;
  LumvaraPlayer player = nullptr;
  LumvaraWindow window = nullptr;
  void* talk = nullptr;
  bool records = false;

  Channel live, audio, talkChannel, playback;
  std::atomic<uint64_t> frames{0};
  std::atomic<int64_t> lastFrameMs{0};
  // Last sign of life the device itself counts from: a frame, a connect or
  // a failed connect attempt.
  std::atomic<int64_t> lastLifeMs{0};
  std::atomic<bool> initialConnect{true};
  std::atomic<int> refusal{0};           // event 2..4 (or 1) seen; the main loop restarts
  std::atomic<bool> reconnected{false};  // event 100 after a reconnect: restart the audio
  std::atomic<uint64_t> audioFrames{0};
  std::atomic<uint64_t> talkBlocks{0};
  std::atomic<uint64_t> connectFailures{0};
  std::atomic<uint64_t> refusals{0};

  std::mutex gapsLock;
  std::vector<double> reconnectGaps;  // seconds from last sign of life to event 0

  int64_t refusalSeenMs = 0;  // main thread only
  bool recordingOn = false;
  int64_t nextRecordToggleMs = 0;
  bool talkOn = false;
  int64_t nextTalkToggleMs = 0;
};

int onLiveFrame(const unsigned char* frame, int length, void* context) {
  auto* view = static_cast<View*>(context);
  if (!view->live.enter()) return 0;
  const int64_t now = nowMs();
  view->frames.fetch_add(1);
  view->lastFrameMs.store(now);
  view->lastLifeMs.store(now);
  x_player_inputNetFrame(view->player, frame, length);
  return 0;
}

int onLiveEvent(int event, void* context) {
  auto* view = static_cast<View*>(context);
  if (!view->live.enter()) return 0;
  const int64_t now = nowMs();
  switch (event) {
    case LUMVARA_EVENT_CONNECTING:
      if (view->initialConnect.exchange(false)) break;
      {
        const double gap = static_cast<double>(now - view->lastLifeMs.load()) / 1000.0;
        std::lock_guard<std::mutex> guard(view->gapsLock);
        view->reconnectGaps.push_back(gap);
      }
      break;
    case LUMVARA_EVENT_CONNECTED:
      view->lastLifeMs.store(now);
      view->reconnected.store(true);
      break;
    case LUMVARA_EVENT_CONNECT_FAILED:
      view->lastLifeMs.store(now);
      view->connectFailures.fetch_add(1);
      break;
    case LUMVARA_EVENT_LOGIN_REFUSED:
    case LUMVARA_EVENT_TOO_MANY_USERS:
    case LUMVARA_EVENT_REQUEST_ERROR:
    case LUMVARA_EVENT_VIDEO_LOSS:
      view->refusals.fetch_add(1);
      view->refusal.store(event);
      break;
    default:
      break;
  }
  return 0;
}

int onAudioFrame(const unsigned char* frame, int length, void* context) {
  auto* view = static_cast<View*>(context);
  if (!view->audio.enter()) return 0;
  view->audioFrames.fetch_add(1);
  x_player_inputNetFrame(view->player, frame, length);
  return 0;
}

int onTalkBlock(const unsigned char* data, int length, void* user) {
  auto* view = static_cast<View*>(user);
  if (!view->talkChannel.enter()) return 0;
  view->talkBlocks.fetch_add(1);
  device_net_work_sendTalkData(view->device, reinterpret_cast<const char*>(data), length);
  return 0;
}

int onPlaybackFrame(const unsigned char* frame, int length, void* context) {
  auto* view = static_cast<View*>(context);
  if (!view->playback.enter()) return 0;
  const int64_t now = nowMs();
  view->frames.fetch_add(1);
  view->lastFrameMs.store(now);
  x_player_inputNetFrame(view->player, frame, length);
  return 0;
}

// ---- Starting and stopping the pieces of a view (main thread) ---------------

void startLive(View& view) {
  view.initialConnect.store(true);
  view.refusal.store(0);
  view.lastLifeMs.store(nowMs());
  view.live.stopped.store(false);
  device_net_work_startStream(view.device, kLiveStream, onLiveFrame, &view);
}

void stopLive(View& view) {
  device_net_work_stopStream(view.device);
  view.live.stopped.store(true);
}

void startAudio(View& view) {
  view.audio.stopped.store(false);
  device_net_work_startAudio(view.device, kAudioStream, onAudioFrame, &view);
}

void stopAudio(View& view) {
  device_net_work_stopAudio(view.device);
  view.audio.stopped.store(true);
}

void startTalk(View& view) {
  view.talkChannel.stopped.store(false);
  if (x_player_StartDualTalk(view.talk, onTalkBlock, &view) == 1) {
    view.talkOn = true;
  } else {
    view.talkChannel.stopped.store(true);
  }
}

void stopTalk(View& view) {
  x_player_StopDualTalk(view.talk);
  view.talkChannel.stopped.store(true);
  view.talkOn = false;
}

struct RecordSession {
  int view = 0;
  std::string camera;
  std::time_t start = 0;
  std::time_t stop = 0;
  uint64_t framesAtStart = 0;
  uint64_t framesAtStop = 0;
};

// The recorder deletes a file that stays below 32 KiB when it closes (an
// empty file is no recording); a session that saw this many frames is well
// past that and must leave its file.
constexpr uint64_t kFramesForAFile = 50;

// ---- Recording files ---------------------------------------------------------

struct RecordFileCheck {
  std::string path;
  std::string dayFolder;  // YYYYMMDD the file sits in
  std::string camera;
  std::time_t opened = 0;  // from its name (local time)
  bool decodes = false;
  std::string complaint;
};

// Runs `ffmpeg -v error -i path -f null -`; true when it exits 0 and prints
// nothing. `output` receives what it printed.
bool decodesCleanly(const std::string& path, std::string& output) {
  const std::string command = "ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    output = "cannot run ffmpeg";
    return false;
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    if (output.size() < 2000) output += buffer;
  }
  const int status = pclose(pipe);
  return status == 0 && output.empty();
}

// Local time named by "YYYYMMDD_HHMMSS_m.avi"; 0 when the name is not so.
std::time_t timeFromName(const std::string& name) {
  int year, month, day, hour, minute, second, milli;
  if (std::sscanf(name.c_str(), "%4d%2d%2d_%2d%2d%2d_%d.avi", &year, &month, &day, &hour, &minute, &second, &milli) !=
      7) {
    return 0;
  }
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::vector<RecordFileCheck> findRecordFiles(const std::string& root) {
  namespace fs = std::filesystem;
  std::vector<RecordFileCheck> files;
  const fs::path records = fs::path(root) / "RecordFiles";
  std::error_code error;
  if (!fs::exists(records, error)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(records, error)) {
    if (!entry.is_regular_file()) continue;
    RecordFileCheck file;
    file.path = entry.path().string();
    const fs::path relative = fs::relative(entry.path(), records, error);
    auto part = relative.begin();
    if (part != relative.end()) file.dayFolder = (part++)->string();
    if (part != relative.end()) file.camera = (part++)->string();
    file.opened = timeFromName(entry.path().filename().string());
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(),
            [](const RecordFileCheck& a, const RecordFileCheck& b) { return a.path < b.path; });
  return files;
}

// Decodes the files of finished recording sessions while the run goes on,
// so that a long run does not leave them all for the end.
class DecodeChecker {
 public:
  explicit DecodeChecker(std::string root) : root_(std::move(root)), thread_([this] { run(); }) {}
  ~DecodeChecker() { finish(); }
  // A session of `camera` that ran from `start` to `stop` (local time stamps) has ended.
  void sessionEnded(const std::string& camera, std::time_t start, std::time_t stop) {
    std::lock_guard<std::mutex> guard(lock_);
    pending_.push_back({camera, start, stop});
    wake_.notify_one();
  }
  void finish() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  // Results so far: path -> (decodes, what ffmpeg printed). After finish().
  std::map<std::string, std::pair<bool, std::string>> results() {
    std::lock_guard<std::mutex> guard(lock_);
    return results_;
  }

 private:
  struct Ended {
    std::string camera;
    std::time_t start, stop;
  };
  void run() {
    std::unique_lock<std::mutex> lock(lock_);
    while (true) {
      wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
      if (stop_) return;
      const Ended ended = pending_.front();
      pending_.erase(pending_.begin());
      lock.unlock();
      std::map<std::string, std::pair<bool, std::string>> checked;
      for (const auto& file : findRecordFiles(root_)) {
        // Only files opened before the stop's second: the view's next session
        // starts within two seconds of it, and its file, still being written,
        // does not decode yet. A file left out here is decoded at the end.
        if (file.camera != ended.camera || file.opened < ended.start - 2 || file.opened >= ended.stop) continue;
        std::string output;
        const bool ok = decodesCleanly(file.path, output);
        checked[file.path] = {ok, output};
      }
      lock.lock();
      results_.insert(checked.begin(), checked.end());
    }
  }
  const std::string root_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::vector<Ended> pending_;
  std::map<std::string, std::pair<bool, std::string>> results_;
  std::thread thread_;
};

std::string dayOf(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

// ---- Options -----------------------------------------------------------------

struct Options {
  double minutes = 2.0;
  uint64_t seed = 0;
  bool seedGiven = false;
  std::string work;
  bool talk = true;   // --no-talk: no talk capture (to tell where a problem is)
  bool sound = true;  // --no-sound: players do not open their sound output
};

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "soak: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--minutes") {
      const char* v = value("--minutes");
      if (v == nullptr) return false;
      options.minutes = std::strtod(v, nullptr);
    } else if (arg == "--seed") {
      const char* v = value("--seed");
      if (v == nullptr) return false;
      options.seed = std::strtoull(v, nullptr, 10);
      options.seedGiven = true;
    } else if (arg == "--work") {
      const char* v = value("--work");
      if (v == nullptr) return false;
      options.work = v;
    } else if (arg == "--no-talk") {
      options.talk = false;
    } else if (arg == "--no-sound") {
      options.sound = false;
    } else if (!arg.empty() && arg[0] != '-') {
      options.minutes = std::strtod(arg.c_str(), nullptr);
    } else {
      std::fprintf(stderr, "usage: lumvara-soak [--minutes M] [--seed N] [--work DIR] [--no-talk] [--no-sound]\n");
      return false;
    }
  }
  if (!(options.minutes > 0.0) || options.minutes > 24 * 60) {
    std::fprintf(stderr, "soak: minutes must be above 0 (and at most a day)\n");
    return false;
  }
  return true;
}

// ---- The watchdog --------------------------------------------------------------

std::atomic<const char*> g_phase{"start"};

void watchdog(int64_t deadlineMs, const std::atomic<bool>* done) {
  while (!done->load()) {
    if (nowMs() > deadlineMs) {
      std::fprintf(stdout, "soak: FAIL still running one minute past the planned end (in %s)\n", g_phase.load());
      std::fflush(stdout);
      std::_Exit(2);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

struct CheckList {
  int passed = 0;
  int failed = 0;
  void report(const char* name, bool ok, const std::string& detail) {
    std::printf("soak: %s %-10s %s\n", ok ? "PASS" : "FAIL", name, detail.c_str());
    (ok ? passed : failed) += 1;
  }
  // A figure printed for the reader that a run this short cannot judge; it
  // counts as neither passed nor failed.
  void note(const char* name, const std::string& detail) { std::printf("soak: NOTE %-10s %s\n", name, detail.c_str()); }
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char text[1024];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) return 2;
  if (!options.seedGiven) {
    options.seed = std::random_device{}() ^ (static_cast<uint64_t>(std::time(nullptr)) << 20);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // Sound goes to the file backend unless the caller chose a backend: the
  // soak must run where no sound server can start.
  setenv("LUMVARA_AUDIO", "file", 0);
  const char* backend = std::getenv("LUMVARA_AUDIO");

  const int64_t runMs = static_cast<int64_t>(options.minutes * 60000.0);
  const int64_t startMs = nowMs();
  const int64_t endMs = startMs + runMs;
  std::atomic<bool> finished{false};
  std::thread guard(watchdog, endMs + 60000, &finished);

  std::printf("soak: seed %" PRIu64 " (repeat with --seed %" PRIu64 "), %.2f minutes, sound backend %s\n", options.seed,
              options.seed, options.minutes, backend != nullptr && *backend ? backend : "pulse");

  std::string work = options.work;
  if (work.empty()) {
    char pattern[] = "/tmp/lumvara-soak-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::perror("soak: mkdtemp");
      return 2;
    }
    work = pattern;
  } else {
    std::filesystem::create_directories(work);
  }
  const std::string recordRoot = work + "/records";
  std::filesystem::create_directories(recordRoot);
  std::printf("soak: recordings under %s\n", recordRoot.c_str());

  std::mt19937_64 random(options.seed);
  auto uniform = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };

  // ---- The camera ----
  g_phase = "starting the simulator";
  lumvara::camsim::SimulatorOptions simOptions;
  simOptions.max_connections = 64;
  simOptions.reboot_downtime = std::chrono::milliseconds(1500);
  simOptions.keep_talk_audio = false;
  CameraSimulator camera(simOptions);
  if (!camera.start()) {
    std::printf("soak: FAIL the simulator did not start: %s\n", camera.lastError().c_str());
    finished = true;
    guard.join();
    return 2;
  }
  const std::time_t sdStart = std::time(nullptr) - 3600;
  const std::vector<std::string> sdNames = {"sdrec_a.h264", "sdrec_b.h264"};
  {
    std::vector<lumvara::camsim::Recording> recordings;
    for (size_t i = 0; i < sdNames.size(); ++i) {
      lumvara::camsim::Recording recording;
      recording.name = sdNames[i];
      recording.start = sdStart + static_cast<std::time_t>(i) * 600;
      recording.frames = kRecordingFrames;
      recordings.push_back(recording);
    }
    camera.setRecordings(recordings);
  }
  std::vector<size_t> sdSizes;
  for (const auto& name : sdNames) sdSizes.push_back(camera.recordingBytes(name).size());

  device_net_work_init();
  x_player_initPlayLib();

  // Counts before any view exists; teardown must bring them back.
  const int fdsBefore = openFds();
  const int threadsBefore = threadCount();

  // ---- The views ----
  g_phase = "creating the views";
  DeviceConnectInfo info{};
  std::snprintf(info.user, sizeof info.user, "%s", simOptions.user.c_str());
  std::snprintf(info.pwd, sizeof info.pwd, "%s", simOptions.pwd.c_str());
  std::snprintf(info.host, sizeof info.host, "127.0.0.1");
  info.port = camera.port();

  std::array<View, kLiveViews + 1> views;
  std::vector<RecordSession> sessions;
  bool setupOk = true;
  for (int i = 0; i <= kLiveViews; ++i) {
    View& view = views[static_cast<size_t>(i)];
    view.index = i;
    view.window = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "soak", 320, 180);
    view.player = x_player_createPlayInstance(LUMVARA_PLAYER_H264);
    view.device = device_net_work_createInstance(info);
    if (view.window == nullptr || view.player == nullptr || view.device == nullptr) {
      std::printf("soak: FAIL view %d could not be created\n", i);
      setupOk = false;
      break;
    }
    x_player_setPlayWnd(view.player, view.window);
    x_player_startPlay(view.player);
    if (options.sound) x_player_openSound(view.player);
    view.records = i < kRecordingViews;
    if (i < kLiveViews) {
      device_net_work_set_event_callback(view.device, onLiveEvent, &view);
      startLive(view);
      startAudio(view);
    }
    if (i == kTalkView && options.talk) {
      view.talk = x_player_createDualtalkInstance();
      startTalk(view);
      view.nextTalkToggleMs = nowMs() + uniform(15000, 30000);
      if (!view.talkOn) std::printf("soak: talk capture did not start\n");
    }
  }
  View& sd = views[kLiveViews];
  size_t sdFile = 0;
  int64_t sdLastSeekMs = 0;
  if (setupOk) {
    sd.playback.stopped.store(false);
    device_record_file_start(sd.device, sdNames[sdFile].c_str(), onPlaybackFrame, &sd);
    sd.lastFrameMs.store(nowMs());
  }
  int64_t nextSeekMs = nowMs() + uniform(2000, 5000);

  // ---- The run ----
  g_phase = "running";
  auto checker = std::make_unique<DecodeChecker>(recordRoot);
  std::map<Fault, int> faults;
  // Faults are drawn from a shuffled deck of every kind, so that even a
  // short run injects each kind once before any repeats.
  std::vector<Fault> deck;
  int64_t nextFaultMs = nowMs() + uniform(3000, 6000);
  // Faults stop early enough for every view to be back before the end.
  const int64_t faultsEndMs = endMs - std::min<int64_t>(20000, runMs / 2);
  const int64_t memoryBaseMs = startMs + std::min<int64_t>(60000, runMs / 2);
  std::vector<std::pair<double, long>> rss;  // seconds since start, kB
  int64_t nextSampleMs = nowMs();
  long rssBase = -1;
  long talkKbBase = 0;
  struct mallinfo2 heapBase {};
  double rssBaseAt = 0;
  int64_t nextProgressMs = nowMs() + 15000;
  int64_t lastRebootMs = -1000000;
  struct Seek {
    int64_t atMs;
    uint64_t framesBefore;
    bool resumed = false;
    bool nearReboot = false;
  };
  std::vector<Seek> seeks;
  uint64_t sdRestarts = 0;

  while (setupOk && nowMs() < endMs) {
    lumvara_window_pump(20);
    const int64_t now = nowMs();

    if (now >= nextSampleMs) {
      // The simulator logs every request line for tests; the soak reads none,
      // and over an hour that log would count as the client's growth.
      camera.clearRequestLog();
      const long kb = residentKb();
      const double at = static_cast<double>(now - startMs) / 1000.0;
      rss.emplace_back(at, kb);
      if (rssBase < 0 && now >= memoryBaseMs) {
        rssBase = kb;
        talkKbBase = simulatorTalkKb(camera);
        heapBase = mallinfo2();
        rssBaseAt = at;
      }
      nextSampleMs = now + 2000;
    }
    if (now >= nextProgressMs) {
      int total = 0;
      for (const auto& [kind, count] : faults) total += count;
      const struct mallinfo2 heap = mallinfo2();
      std::printf(
          "soak: %.0f s, %ld kB resident, heap %zu kB in use (%zu kB of it mapped), "
          "%zu kB free in the arenas, %d threads, %d faults so far\n",
          static_cast<double>(now - startMs) / 1000.0, residentKb(), (heap.uordblks + heap.hblkhd) / 1024,
          heap.hblkhd / 1024, heap.fordblks / 1024, threadCount(), total);
      nextProgressMs = now + 15000;
    }

    // Refused views are started again after a pause, as a host would.
    for (int i = 0; i < kLiveViews; ++i) {
      View& view = views[static_cast<size_t>(i)];
      if (view.refusal.load() != 0) {
        if (view.refusalSeenMs == 0) view.refusalSeenMs = now;
        if (now - view.refusalSeenMs >= 1000) {
          stopLive(view);
          startLive(view);
          view.refusalSeenMs = 0;
        }
      }
      if (view.reconnected.exchange(false)) {
        stopAudio(view);
        startAudio(view);
      }
    }

    // Recording: starts once a picture has been decoded, then is stopped
    // and started again now and then, so that each run writes several files.
    for (int i = 0; i < kRecordingViews; ++i) {
      View& view = views[static_cast<size_t>(i)];
      int width = 0, height = 0;
      if (!view.recordingOn && now >= view.nextRecordToggleMs && now < endMs - 5000 &&
          x_player_getPlayPicSize(view.player, &width, &height) == 1 && width > 0) {
        LocalRecordRequest request{};
        std::snprintf(request.rootPath, sizeof request.rootPath, "%s", recordRoot.c_str());
        std::snprintf(request.cameraName, sizeof request.cameraName, "cam%d", i);
        request.fileSizeMB = 100;
        request.fileMinutes = 5;
        request.reservedMB = 200;
        request.cover = 1;
        if (x_player_startlocalrecord(view.player, request) == 1) {
          view.recordingOn = true;
          sessions.push_back({i, request.cameraName, std::time(nullptr), 0, view.frames.load(), 0});
          view.nextRecordToggleMs = now + uniform(25000, 45000);
        } else {
          std::printf("soak: recording did not start on view %d\n", i);
          view.nextRecordToggleMs = now + 5000;
        }
      } else if (view.recordingOn && now >= view.nextRecordToggleMs) {
        x_player_stoplocalrecord(view.player);
        view.recordingOn = false;
        for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) {
          if (it->view == i && it->stop == 0) {
            it->stop = std::time(nullptr);
            it->framesAtStop = view.frames.load();
            checker->sessionEnded(it->camera, it->start, it->stop);
            break;
          }
        }
        view.nextRecordToggleMs = now + uniform(500, 2000);
      }
    }

    // Talk is switched off and on again now and then.
    View& talker = views[kTalkView];
    if (talker.talk != nullptr && now >= talker.nextTalkToggleMs) {
      if (talker.talkOn) {
        stopTalk(talker);
        talker.nextTalkToggleMs = now + uniform(1000, 3000);
      } else {
        startTalk(talker);
        talker.nextTalkToggleMs = now + uniform(15000, 30000);
      }
    }

    // SD playback: random seeks; a recording that has ended (or lost its
    // connection) is started again, alternating between the files.
    for (auto& seek : seeks) {
      if (!seek.resumed && sd.frames.load() > seek.framesBefore) seek.resumed = true;
    }
    if (now >= nextSeekMs && now < endMs - kLivenessQuietMs) {
      const int offset = static_cast<int>(uniform(0, static_cast<int64_t>(sdSizes[sdFile]) * 9 / 10));
      // Counted from after the call: it closes the old connection (whose
      // frames must not count as the seek's) before it asks for the offset.
      device_record_file_set_pos(sd.device, offset);
      seeks.push_back({now, sd.frames.load()});
      sdLastSeekMs = now;
      sd.lastFrameMs.store(now);
      nextSeekMs = now + uniform(2000, 6000);
    } else if (now - sd.lastFrameMs.load() > 2500 && now - sdLastSeekMs > 2500) {
      device_record_file_stop(sd.device);
      sdFile = (sdFile + 1) % sdNames.size();
      device_record_file_start(sd.device, sdNames[sdFile].c_str(), onPlaybackFrame, &sd);
      sd.lastFrameMs.store(now);
      ++sdRestarts;
    }

    // The fault schedule.
    if (now >= nextFaultMs && now < faultsEndMs) {
      if (deck.empty()) {
        for (int k = 0; k < static_cast<int>(Fault::kCount); ++k) deck.push_back(static_cast<Fault>(k));
        std::shuffle(deck.begin(), deck.end(), random);
      }
      const Fault fault = deck.back();
      View& target = views[static_cast<size_t>(uniform(0, kLiveViews - 1))];
      ConnectionScript script;
      script.cgi = "livestream.cgi";
      script.after_frames = static_cast<uint32_t>(uniform(5, 60));
      bool scripted = true;
      switch (fault) {
        case Fault::kSilence:
          script.action = Action::kSilence;
          break;
        case Fault::kCorruptMagic:
          script.action = Action::kCorruptMagic;
          break;
        case Fault::kOversized:
          script.action = Action::kOversizedLength;
          break;
        case Fault::kClose:
          script.action = Action::kClose;
          break;
        case Fault::kTrickle:
          script.pieces = {static_cast<size_t>(uniform(64, 700))};
          script.piece_gap = std::chrono::milliseconds(1);
          break;
        case Fault::kSplit:
          script.pieces = {1, 3, 31, 32, 33, 1000, static_cast<size_t>(uniform(2, 9000))};
          break;
        case Fault::kRefusal201:
        case Fault::kRefusal202:
        case Fault::kRefusal203:
          script.action = Action::kNotice;
          script.notice_kind =
              static_cast<uint8_t>(201 + (static_cast<int>(fault) - static_cast<int>(Fault::kRefusal201)));
          script.close_after_notice = uniform(0, 1) == 1;
          break;
        case Fault::kReboot:
          scripted = false;
          break;
        case Fault::kCount:
          break;
      }
      if (scripted) {
        // The view connects again at once and takes the script (another
        // view reconnecting at that moment may take it first; either way
        // one live connection plays it).
        camera.scriptConnection(script);
        stopLive(target);
        startLive(target);
      } else if (now - lastRebootMs > 15000) {
        device_net_work_get_network(target.device, LUMVARA_CMD_REBOOT);
        lastRebootMs = now;
      } else {
        // Too soon after the last reboot: put it under the deck for later.
        deck.insert(deck.begin(), fault);
        deck.pop_back();
        nextFaultMs = now + 500;
        continue;
      }
      deck.pop_back();
      ++faults[fault];
      nextFaultMs = now + uniform(2000, 7000);
    }
  }

  // Liveness at the end, before anything stops.
  const int64_t endCheckMs = nowMs();
  std::string liveness;
  bool live = setupOk;
  for (int i = 0; setupOk && i < kLiveViews; ++i) {
    const View& view = views[static_cast<size_t>(i)];
    const int64_t quiet = endCheckMs - view.lastFrameMs.load();
    int width = 0, height = 0;
    const bool picture = x_player_getPlayPicSize(view.player, &width, &height) == 1 && width > 0;
    // The last fault is 20 s (or half the run) old by now; a view still
    // without video has not recovered. The bound is loose because on a
    // loaded machine the whole process can stall for seconds.
    if (quiet > kLivenessQuietMs || !picture || view.audioFrames.load() == 0) {
      live = false;
      liveness += format(" view %d: no frame for %.1f s, picture %dx%d, %" PRIu64 " audio frames;", i,
                         static_cast<double>(quiet) / 1000.0, width, height, view.audioFrames.load());
    }
  }
  size_t talkFrames = 0;
  for (const auto& session : camera.talkSessions()) talkFrames += session.seqs.size();
  if (talkFrames == 0 && options.talk) {
    live = false;
    liveness += " no talk frame reached the camera;";
  }
  int seeksResumed = 0, seeksExcused = 0;
  for (auto& seek : seeks) {
    seek.nearReboot = seek.atMs - lastRebootMs >= -3000 && seek.atMs - lastRebootMs < 10000;
    if (seek.resumed) {
      ++seeksResumed;
    } else if (seek.nearReboot) {
      ++seeksExcused;
    } else if (endCheckMs - seek.atMs > kLivenessQuietMs) {
      live = false;
      liveness +=
          format(" a seek at %.1f s never resumed playback;", static_cast<double>(seek.atMs - startMs) / 1000.0);
    }
  }
  if (setupOk && sd.frames.load() == 0) {
    live = false;
    liveness += " SD playback delivered no frame;";
  }
  if (!rss.empty() && rssBase < 0) {
    rssBase = rss.back().second;
    rssBaseAt = rss.back().first;
    talkKbBase = simulatorTalkKb(camera);
    heapBase = mallinfo2();
  }
  const struct mallinfo2 heapLast = mallinfo2();
  const long rssLast = residentKb();
  const long talkKbLast = simulatorTalkKb(camera);
  rss.emplace_back(static_cast<double>(endCheckMs - startMs) / 1000.0, rssLast);

  // ---- Teardown ----
  g_phase = "teardown";
  for (int i = 0; i <= kLiveViews; ++i) {
    View& view = views[static_cast<size_t>(i)];
    if (view.talk != nullptr) {
      if (view.talkOn) stopTalk(view);
      x_player_destroyDualtalkInstance(view.talk);
      view.talk = nullptr;
    }
    if (view.device != nullptr) {
      if (i < kLiveViews) {
        stopAudio(view);
        stopLive(view);
      } else {
        device_record_file_stop(view.device);
        view.playback.stopped.store(true);
      }
    }
    if (view.player != nullptr && view.recordingOn) {
      x_player_stoplocalrecord(view.player);
      view.recordingOn = false;
      for (auto& session : sessions) {
        if (session.view == i && session.stop == 0) {
          session.stop = std::time(nullptr);
          session.framesAtStop = view.frames.load();
        }
      }
    }
    if (view.player != nullptr) x_player_stopPlay(view.player);
    if (view.device != nullptr) device_net_work_destroyInstance(view.device);
    if (view.player != nullptr) x_player_destroyPlayInstance(view.player);
    if (view.window != nullptr) lumvara_window_destroy(view.window);
  }
  // Callbacks must stay silent after their stops: watch a little longer.
  lumvara_window_pump(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  // Descriptors and threads return to their counts; the simulator's
  // connection threads end once it sees the client's sockets close.
  // The checker's thread (and any ffmpeg it runs) ends before the count.
  g_phase = "finishing the decode checks";
  checker->finish();
  g_phase = "waiting for descriptors and threads";
  int fdsAfter = openFds(), threadsAfter = threadCount();
  for (const int64_t deadline = nowMs() + 10000; nowMs() < deadline;) {
    fdsAfter = openFds();
    threadsAfter = threadCount();
    if (fdsAfter <= fdsBefore && threadsAfter <= threadsBefore) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  x_player_uninitPlayLib();
  device_net_work_deInit();
  const int rebootsSeen = camera.reboots();
  camera.stop();

  // ---- Recordings ----
  g_phase = "checking recordings";
  const auto checkedDuringRun = checker->results();
  checker.reset();
  auto files = findRecordFiles(recordRoot);
  int decoded = 0;
  std::string recordProblems;
  for (auto& file : files) {
    std::string output;
    const auto done = checkedDuringRun.find(file.path);
    if (done != checkedDuringRun.end()) {
      file.decodes = done->second.first;
      output = done->second.second;
    } else {
      file.decodes = decodesCleanly(file.path, output);
    }
    if (file.decodes) {
      ++decoded;
    } else {
      recordProblems +=
          format(" %s does not decode: %s;", file.path.c_str(), output.empty() ? "(ffmpeg failed)" : output.c_str());
    }
    if (file.opened == 0) {
      recordProblems += format(" %s is not named by its time;", file.path.c_str());
    } else if (dayOf(file.opened) != file.dayFolder) {
      recordProblems += format(" %s is not in its day folder;", file.path.c_str());
    }
  }
  int sessionsWithFile = 0, shortSessions = 0;
  for (const auto& session : sessions) {
    const bool found = std::any_of(files.begin(), files.end(), [&](const RecordFileCheck& f) {
      return f.camera == session.camera && f.opened >= session.start - 2 && f.opened <= session.stop + 2 &&
             f.dayFolder == dayOf(f.opened);
    });
    if (found) {
      ++sessionsWithFile;
    } else if (session.framesAtStop - session.framesAtStart < kFramesForAFile) {
      ++shortSessions;
    } else {
      recordProblems += format(" no file of %s for the recording from %ld to %ld;", session.camera.c_str(),
                               static_cast<long>(session.start), static_cast<long>(session.stop));
    }
  }
  if (sessions.empty()) recordProblems += " no recording ever started;";

  // ---- Figures ----
  std::printf("soak: ran %.1f s with %d live views and one SD playback\n",
              static_cast<double>(endCheckMs - startMs) / 1000.0, kLiveViews);
  std::string faultLine;
  int faultTotal = 0;
  for (int k = 0; k < static_cast<int>(Fault::kCount); ++k) {
    const auto it = faults.find(static_cast<Fault>(k));
    const int count = it == faults.end() ? 0 : it->second;
    faultTotal += count;
    faultLine += format(" %s %d,", faultName(static_cast<Fault>(k)), count);
  }
  if (!faultLine.empty()) faultLine.pop_back();
  std::printf("soak: faults injected: %d:%s; SD seeks %zu (%d resumed, %d beside a reboot), SD restarts %" PRIu64
              "; camera reboots %d\n",
              faultTotal, faultLine.c_str(), seeks.size(), seeksResumed, seeksExcused, sdRestarts, rebootsSeen);

  std::vector<double> gaps;
  uint64_t refusalsSeen = 0, failedConnects = 0, lateCalls = 0, totalCalls = 0;
  std::string lateDetail;
  for (int i = 0; i <= kLiveViews; ++i) {
    View& view = views[static_cast<size_t>(i)];
    {
      std::lock_guard<std::mutex> g(view.gapsLock);
      gaps.insert(gaps.end(), view.reconnectGaps.begin(), view.reconnectGaps.end());
    }
    refusalsSeen += view.refusals.load();
    failedConnects += view.connectFailures.load();
    const std::pair<const char*, Channel*> channels[] = {
        {"live", &view.live}, {"audio", &view.audio}, {"talk", &view.talkChannel}, {"playback", &view.playback}};
    for (const auto& [name, channel] : channels) {
      totalCalls += channel->calls.load();
      if (channel->late.load() != 0) {
        lateCalls += channel->late.load();
        lateDetail += format(" view %d %s: %" PRIu64 ";", i, name, channel->late.load());
      }
    }
  }
  std::sort(gaps.begin(), gaps.end());
  if (gaps.empty()) {
    std::printf("soak: reconnects: none\n");
  } else {
    std::printf("soak: reconnects: %zu, after min %.2f s, median %.2f s, max %.2f s (refusals heard %" PRIu64
                ", failed connects %" PRIu64 ")\n",
                gaps.size(), gaps.front(), gaps[gaps.size() / 2], gaps.back(), refusalsSeen, failedConnects);
  }
  long rssPeak = 0;
  for (const auto& sample : rss) rssPeak = std::max(rssPeak, sample.second);
  std::printf("soak: resident memory: first %ld kB, at %.0f s %ld kB, last %ld kB, peak %ld kB (%zu samples)\n",
              rss.empty() ? -1 : rss.front().second, rssBaseAt, rssBase, rssLast, rssPeak, rss.size());
  const MemoryWindows memoryWindows = memoryWindowMeans(rss, rssBaseAt);
  std::printf("soak: resident memory, mean over %.0f-%.0f s %ld kB, over the last %.0f s %ld kB\n", rssBaseAt,
              memoryWindows.baseTo, memoryWindows.baseMeanKb, memoryWindows.length, memoryWindows.endMeanKb);
  // Where resident memory went: blocks in use, or freed memory that malloc
  // keeps in its arenas (touched pages stay resident until it trims them).
  std::printf("soak: heap at %.0f s and at the end: in use %zu / %zu kB, free in the arenas %zu / %zu kB\n", rssBaseAt,
              (heapBase.uordblks + heapBase.hblkhd) / 1024, (heapLast.uordblks + heapLast.hblkhd) / 1024,
              heapBase.fordblks / 1024, heapLast.fordblks / 1024);
  std::printf("soak: descriptors %d before, %d after; threads %d before, %d after\n", fdsBefore, fdsAfter,
              threadsBefore, threadsAfter);
  std::printf("soak: recordings: %zu sessions, %zu files written, %d decode cleanly; talk frames at the camera %zu\n",
              sessions.size(), files.size(), decoded, talkFrames);
  uint64_t frames = 0;
  for (const auto& view : views) frames += view.frames.load();
  std::printf("soak: frames handed to players %" PRIu64 ", callbacks %" PRIu64 "\n", frames, totalCalls);

  // ---- Checks ----
  CheckList checks;
  checks.report("setup", setupOk,
                setupOk ? "every view, player and window was created" : "a view could not be created");
  const long simulatorGrowth = talkKbLast - talkKbBase;
  const long growth = memoryWindows.endMeanKb - memoryWindows.baseMeanKb - simulatorGrowth;
  const std::string memoryDetail = format(
      "grew %ld kB from the mean over %.0f-%.0f s to the mean over the last %.0f s "
      "(limit %ld kB; the simulator's own record of talk frames, %ld kB more, left out)",
      growth, rssBaseAt, memoryWindows.baseTo, memoryWindows.length, kMemoryGrowthLimitKb, simulatorGrowth);
  // In a short run the figure after the first minute still holds buffers of
  // views that a fault has just restarted, so growth is judged only in runs
  // long enough for that to even out.
  if (runMs >= kMemoryJudgedFromMs) {
    checks.report("memory", memoryWindows.baseMeanKb > 0 && growth <= kMemoryGrowthLimitKb, memoryDetail);
  } else {
    checks.note("memory", memoryDetail + "; judged in runs of 5 minutes or more");
  }
  checks.report("fds", fdsAfter == fdsBefore, format("%d before, %d after teardown", fdsBefore, fdsAfter));
  checks.report("threads", threadsAfter == threadsBefore,
                format("%d before, %d after teardown", threadsBefore, threadsAfter));
  const bool recordsOk = recordProblems.empty() && decoded == static_cast<int>(files.size()) &&
                         sessionsWithFile + shortSessions == static_cast<int>(sessions.size());
  checks.report("recordings", recordsOk,
                recordsOk ? format("%zu files decode, %d of %zu sessions have their file (%d too short to keep one)",
                                   files.size(), sessionsWithFile, sessions.size(), shortSessions)
                          : recordProblems);
  int gapsOut = 0;
  for (double gap : gaps) gapsOut += (gap < kReconnectMinSeconds || gap > kReconnectMaxSeconds) ? 1 : 0;
  const bool reconnectExpected = faults.count(Fault::kSilence) != 0;
  checks.report("reconnects", gapsOut == 0 && (!gaps.empty() || !reconnectExpected),
                gaps.empty()
                    ? std::string(reconnectExpected ? "no reconnect happened after a silence" : "no reconnect was due")
                    : format("%d of %zu outside %.1f to %.1f s", gapsOut, gaps.size(), kReconnectMinSeconds,
                             kReconnectMaxSeconds));
  checks.report("callbacks", lateCalls == 0,
                lateCalls == 0 ? std::string("none after a stop")
                               : format("%" PRIu64 " after a stop:%s", lateCalls, lateDetail.c_str()));
  checks.report(
      "liveness", live,
      live ? format("every view shows video, talk reached the camera, %d seeks resumed", seeksResumed) : liveness);

  std::printf("soak: %d passed, %d failed\n", checks.passed, checks.failed);
  finished = true;
  guard.join();
  if (checks.failed == 0 && options.work.empty()) {
    std::error_code error;
    std::filesystem::remove_all(work, error);
  }
  return checks.failed == 0 ? 0 : 1;
}

// Thread checker builds: cairo (which the players' blits go through) keeps
// pools of freed objects that it hands between threads with atomic
// operations of its own; the library is not instrumented, so the checker
// cannot see those hand-overs and takes the memset and memcpy calls cairo
// makes on a reused object for races. Only the calls cairo itself makes
// into the checked C library functions are left out: a race between two of
// our own accesses is still reported when cairo is on one of the stacks
// (a suppression by stack frame would hide it).
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "called_from_lib:libcairo.so\n";
}
