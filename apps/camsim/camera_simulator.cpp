#include "apps/camsim/camera_simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <list>
#include <map>
#include <thread>
#include <utility>

#include "apps/camsim/camera_audio.h"
#include "apps/camsim/camera_params.h"
#include "apps/camsim/connection_link.h"
#include "apps/camsim/h264_file_source.h"
#include "apps/camsim/h264_test_pattern.h"
#include "apps/camsim/http_request.h"
#include "apps/camsim/jpeg_test_pattern.h"
#include "apps/camsim/search_responder.h"
#include "apps/camsim/stream_frame.h"

namespace lumvara::camsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kLiveCgi[] = "livestream.cgi";
constexpr char kAudioCgi[] = "audiostream.cgi";
constexpr int kPlaybackStreamId = 4;
constexpr int kFirstRequestTimeoutMs = 10000;
constexpr uint32_t kOversizedLength = kMaxFramePayload + 1;
constexpr uint32_t kCorruptMagic = kFrameMagic ^ 0x80000000u;  // last byte on the wire differs
constexpr uint8_t kAlarmCycle[] = {kKindMotionAlarm, kKindMotionAlarmOver, kKindInputAlarm,
                                   kKindInputAlarmOver};

int8_t HostZone() {
  // Frames carry the zone as "UTC minus local" in hours.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int8_t>(-local.tm_gmtoff / 3600);
}

std::time_t UtcTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return timegm(&parts);
}

std::vector<Recording> DefaultRecordings() {
  return {
      {"20261209080000_000.h264", UtcTime(2026, 12, 9, 8, 0, 0), 50},
      {"20261209120000_001.h264", UtcTime(2026, 12, 9, 12, 0, 0), 50},
      {"20261210070000_002.h264", UtcTime(2026, 12, 10, 7, 0, 0), 50},
      {"20261210073000_003.mjpg", UtcTime(2026, 12, 10, 7, 30, 0), 25, true},
  };
}

std::string Answer(const ConnectionScript& script, const std::string& body) {
  std::string head = "HTTP/1.1 200 OK\r\nServer: Lumvara camsim\r\n";
  head += "Content-Type: text/plain\r\n";
  if (!script.omit_content_length) {
    head += script.content_length_field + " " + std::to_string(body.size()) + "\r\n";
  }
  head += "Cache-Control: no-cache\r\nConnection: keep-alive\r\n\r\n";
  return head;
}

}  // namespace

struct Connection {
  uint32_t id = 0;
  std::mutex mutex;  // guards fd (closed only by the connection's thread) and notices
  int fd = -1;
  int wake = -1;
  std::deque<uint8_t> notices;
  std::atomic<bool> done{false};
  bool live = false;  // under the simulator's mutex
  std::thread thread;

  ~Connection() {
    if (wake >= 0) ::close(wake);
  }
  void drop() {
    std::lock_guard<std::mutex> lock(mutex);
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  }
  void notify(uint8_t kind) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      notices.push_back(kind);
    }
    const uint64_t one = 1;
    (void)!::write(wake, &one, sizeof one);
  }
  std::deque<uint8_t> takeNotices() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(notices, {});
  }
};

class CameraSimulator::Impl {
 public:
  explicit Impl(SimulatorOptions options)
      : options_(std::move(options)),
        user_(options_.user),
        pwd_(options_.pwd),
        max_connections_(options_.max_connections),
        wifi_networks_(options_.wifi_networks),
        recordings_(DefaultRecordings()),
        zone_(options_.zone.value_or(HostZone())) {}

  ~Impl() { stop(); }

  bool start();
  void stop();

  // Everything below is shared with the public class.
  SimulatorOptions options_;
  mutable std::mutex mutex_;
  mutable std::condition_variable log_changed_;
  std::vector<std::string> log_;
  std::deque<ConnectionScript> scripts_;
  std::string user_, pwd_;
  int max_connections_;
  bool video_loss_ = false;
  bool refuse_sets_ = false;
  int wifi_networks_;
  CameraParams params_;
  std::vector<Recording> recordings_;
  std::map<std::string, std::shared_ptr<const std::vector<uint8_t>>> recording_bytes_;
  std::vector<TalkSession> talk_;
  std::list<std::shared_ptr<Connection>> connections_;
  int live_count_ = 0;
  int reboots_ = 0;
  uint32_t next_id_ = 1;
  int8_t zone_;
  std::string last_error_;
  std::atomic<uint16_t> bound_port_{0};
  std::unique_ptr<SearchResponder> responder_;
  // Access units of options_.live_file; set before any connection is served.
  std::vector<AccessUnit> file_units_;

  std::shared_ptr<const std::vector<uint8_t>> bytesOf(const std::string& name);

 private:
  bool listen();
  void fail(std::string reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_error_ = std::move(reason);
  }
  void acceptLoop();
  void reboot();
  void reap(bool all);
  void serve(const std::shared_ptr<Connection>& connection);
  bool serveCommand(ConnectionLink& link, const HttpRequest& request, const ConnectionScript& script);
  void serveLive(ConnectionLink& link, Connection& connection, const HttpRequest& request,
                 const ConnectionScript& script);
  void serveAudio(ConnectionLink& link, const HttpRequest& request);
  void servePlayback(ConnectionLink& link, const HttpRequest& request);
  void holdSilent(ConnectionLink& link);
  void record(const std::string& line);
  ConnectionScript takeScript(const std::string& cgi);
  bool credentialsMatch(const std::string& user, const std::string& pwd) const;
  bool sendNotice(ConnectionLink& link, uint8_t kind);
  std::string commandBody(const HttpRequest& request, bool& reboot_after);
  std::string recordListBody(const HttpRequest& request);
  void receiveTalk(uint32_t id, std::vector<uint8_t>& buffer, int& session);

  int listen_fd_ = -1;
  int stop_fd_ = -1;
  int accept_wake_ = -1;
  std::atomic<bool> reboot_requested_{false};
  std::thread accept_thread_;
};

bool CameraSimulator::Impl::start() {
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  accept_wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0 || accept_wake_ < 0) return false;
  if (!options_.live_file.empty()) {
    auto units = LoadAccessUnits(options_.live_file);
    if (!units) {
      fail("no H.264 pictures in " + options_.live_file);
      return false;
    }
    file_units_ = std::move(*units);
  }
  if (!listen()) return false;
  if (options_.search_port >= 0) {
    SearchResponderOptions search;
    search.bind_address = options_.search_bind_address;
    search.port = static_cast<uint16_t>(options_.search_port);
    search.camera_ip = options_.bind_address == "0.0.0.0" ? "127.0.0.1" : options_.bind_address;
    search.camera_port = bound_port_;
    search.camera_name = options_.camera_name;
    responder_ = std::make_unique<SearchResponder>(search);
    if (!responder_->start()) {
      fail("cannot bind the search responder to " + options_.search_bind_address + ":" +
           std::to_string(options_.search_port));
      responder_.reset();
      return false;
    }
  }
  accept_thread_ = std::thread([this] { acceptLoop(); });
  return true;
}

bool CameraSimulator::Impl::listen() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  const uint16_t port = bound_port_.load();
  address.sin_port = htons(port != 0 ? port : options_.port);
  if (inet_pton(AF_INET, options_.bind_address.c_str(), &address.sin_addr) != 1) {
    fail("not an IPv4 address: " + options_.bind_address);
    return false;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    fail(std::string("socket: ") + std::strerror(errno));
    return false;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 64) != 0) {
    fail("cannot listen on " + options_.bind_address + ":" +
         std::to_string(ntohs(address.sin_port)) + ": " + std::strerror(errno));
    ::close(fd);
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  bound_port_ = ntohs(address.sin_port);
  listen_fd_ = fd;
  return true;
}

void CameraSimulator::Impl::stop() {
  if (accept_thread_.joinable()) {
    const uint64_t one = 1;
    (void)!::write(stop_fd_, &one, sizeof one);
    accept_thread_.join();
  }
  reap(true);
  if (responder_) responder_->stop();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  if (stop_fd_ >= 0) ::close(stop_fd_);
  if (accept_wake_ >= 0) ::close(accept_wake_);
  listen_fd_ = stop_fd_ = accept_wake_ = -1;
}

void CameraSimulator::Impl::acceptLoop() {
  for (;;) {
    pollfd fds[3] = {{stop_fd_, POLLIN, 0}, {accept_wake_, POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    const nfds_t count = listen_fd_ >= 0 ? 3 : 2;
    ::poll(fds, count, 200);
    if (fds[0].revents != 0) return;
    if (fds[1].revents != 0) {
      uint64_t value = 0;
      (void)!::read(accept_wake_, &value, sizeof value);
      if (reboot_requested_.exchange(false)) reboot();
    }
    reap(false);
    if (count < 3 || (fds[2].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    connection->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connection->id = next_id_++;
      connections_.push_back(connection);
    }
    connection->thread = std::thread([this, connection] { serve(connection); });
  }
}

void CameraSimulator::Impl::reboot() {
  // Every connection drops and the port refuses connections for a while, as a
  // camera does while it starts again.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reboots_;
    for (auto& connection : connections_) connection->drop();
  }
  ::close(listen_fd_);
  listen_fd_ = -1;
  pollfd stop = {stop_fd_, POLLIN, 0};
  if (::poll(&stop, 1, static_cast<int>(options_.reboot_downtime.count())) != 0) return;
  for (int attempt = 0; attempt < 40 && !listen(); ++attempt) {
    if (::poll(&stop, 1, 50) != 0) return;
  }
}

void CameraSimulator::Impl::reap(bool all) {
  std::list<std::shared_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done.load()) {
        if (all) (*it)->drop();
        finished.push_back(*it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : finished) {
    if (connection->thread.joinable()) connection->thread.join();
  }
}

void CameraSimulator::Impl::record(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(line);
  }
  log_changed_.notify_all();
  if (options_.on_request) options_.on_request(line);
}

ConnectionScript CameraSimulator::Impl::takeScript(const std::string& cgi) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
    if (it->cgi.empty() || it->cgi == cgi) {
      ConnectionScript script = std::move(*it);
      scripts_.erase(it);
      return script;
    }
  }
  return {};
}

bool CameraSimulator::Impl::credentialsMatch(const std::string& user,
                                             const std::string& pwd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return user == user_ && pwd == pwd_;
}

void CameraSimulator::Impl::serve(const std::shared_ptr<Connection>& connection) {
  ConnectionLink link(connection->fd, stop_fd_, connection->wake);
  int timeout = kFirstRequestTimeoutMs;
  for (;;) {
    const std::optional<std::string> head = link.readHead(timeout);
    if (!head) break;
    const std::optional<HttpRequest> request = ParseHttpRequest(*head);
    if (!request) {
      record(head->substr(0, head->find("\r\n")));
      break;
    }
    record(request->line);
    const ConnectionScript script = takeScript(request->cgi);
    link.setPieces(script.pieces, script.piece_gap);
    if (request->cgi == kLiveCgi) {
      if (request->intValue("streamid") == kPlaybackStreamId) {
        servePlayback(link, *request);
      } else {
        serveLive(link, *connection, *request, script);
      }
      break;
    }
    if (request->cgi == kAudioCgi) {
      serveAudio(link, *request);
      break;
    }
    if (!serveCommand(link, *request, script)) break;
    timeout = -1;  // the client keeps a command connection until its next command
  }
  {
    std::lock_guard<std::mutex> lock(connection->mutex);
    ::close(connection->fd);
    connection->fd = -1;
  }
  connection->done.store(true);
}

void CameraSimulator::Impl::holdSilent(ConnectionLink& link) {
  // Keeps the connection open without a word until the peer leaves.
  uint8_t sink[4096];
  for (;;) {
    const auto event = link.wait(-1);
    if (event == ConnectionLink::Event::kStopped) return;
    if (event == ConnectionLink::Event::kReadable && link.receive(sink, sizeof sink) == 0) return;
  }
}

bool CameraSimulator::Impl::serveCommand(ConnectionLink& link, const HttpRequest& request,
                                         const ConnectionScript& script) {
  using Action = ConnectionScript::Action;
  if (script.action == Action::kClose) return false;
  if (script.action == Action::kSilence) {
    holdSilent(link);
    return false;
  }
  bool reboot_after = false;
  const std::string body = commandBody(request, reboot_after);
  const std::string head = Answer(script, body);
  if (script.action == Action::kCutBody) {
    link.send(head + body.substr(0, body.size() / 2));
    holdSilent(link);
    return false;
  }
  const bool sent = link.send(head + body);
  if (reboot_after) {
    reboot_requested_.store(true);
    const uint64_t one = 1;
    (void)!::write(accept_wake_, &one, sizeof one);
    return false;
  }
  return sent;
}

std::string CameraSimulator::Impl::commandBody(const HttpRequest& request, bool& reboot_after) {
  const std::string& cgi = request.cgi;
  const std::string refused = "var result=\"Auth Failed\";\r\n";
  const std::string ok = "var result=\"ok\";\r\n";
  if (!credentialsMatch(request.value("loginuse"), request.value("loginpas"))) return refused;
  if (cgi == "get_record_file.cgi") return recordListBody(request);
  std::lock_guard<std::mutex> lock(mutex_);
  if (cgi == "get_params.cgi") return params_.paramsBody();
  if (cgi == "get_misc.cgi") return params_.miscBody();
  if (cgi == "get_wifi_scan_result.cgi") return WifiScanBody(wifi_networks_);
  if (cgi == "decoder_control.cgi") return ok;
  if (cgi == "reboot.cgi") {
    reboot_after = true;
    return ok;
  }
  if (CameraParams::IsSetCgi(cgi)) {
    if (refuse_sets_) return "var result=\"error\";\r\n";
    params_.applySet(request);
    return ok;
  }
  return "var result=\"unknown cgi\";\r\n";
}

std::string CameraSimulator::Impl::recordListBody(const HttpRequest& request) {
  const long long from = request.has("startdate") ? std::atoll(request.value("startdate").c_str())
                                                  : std::numeric_limits<long long>::min();
  const long long to = request.has("enddate") ? std::atoll(request.value("enddate").c_str())
                                              : std::numeric_limits<long long>::max();
  std::vector<Recording> recordings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    recordings = recordings_;
  }
  std::string items;
  int count = 0;
  for (const Recording& recording : recordings) {
    const long long start = static_cast<long long>(recording.start);
    if (start < from || start > to) continue;
    const auto bytes = bytesOf(recording.name);
    const size_t size = bytes ? bytes->size() : 0;
    items += "var record_name0[" + std::to_string(count) + "]=\"" + recording.name + "\";\r\n";
    items += "var record_size0[" + std::to_string(count) + "]=" + std::to_string(size) + ";\r\n";
    ++count;
  }
  return "var record_num0=" + std::to_string(count) + ";\r\n" + items;
}

bool CameraSimulator::Impl::sendNotice(ConnectionLink& link, uint8_t kind) {
  FrameFields fields;
  fields.kind = kind;
  fields.time = static_cast<uint32_t>(std::time(nullptr));
  fields.zone = zone_;
  const std::vector<uint8_t> frame = buildFrame(fields, nullptr, 0);
  return link.send(frame.data(), frame.size());
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
      talk.payload.insert(talk.payload.end(), payload, payload + fields.length);
      const std::vector<int16_t> pcm = DecodeTalk(payload, fields.length);
      talk.pcm.insert(talk.pcm.end(), pcm.begin(), pcm.end());
      if (!options_.talk_dir.empty()) {
        std::ofstream raw(options_.talk_dir + "/talk-" + std::to_string(id) + ".raw",
                          std::ios::binary | std::ios::app);
        raw.write(reinterpret_cast<const char*>(payload), fields.length);
      }
    }
    used += kFrameHeaderSize + fields.length;
  }
  buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
}

void CameraSimulator::Impl::serveLive(ConnectionLink& link, Connection& connection,
                                      const HttpRequest& request, const ConnectionScript& script) {
  using Action = ConnectionScript::Action;
  if (!credentialsMatch(request.value("user"), request.value("pwd"))) {
    sendNotice(link, kKindLoginRefused);
    return;
  }
  int open_live = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_live = ++live_count_;
    connection.live = true;
  }
  // Bytes that came in behind the request head are the first talk bytes.
  std::vector<uint8_t> talk_buffer;
  talk_buffer.swap(link.pending());
  int talk_session = -1;
  // Runs however the connection ends: counts it out and keeps its talk as WAV.
  struct LiveEnd {
    Impl* self;
    Connection& connection;
    const int& session;
    ~LiveEnd() {
      std::lock_guard<std::mutex> lock(self->mutex_);
      --self->live_count_;
      connection.live = false;
      if (session >= 0 && !self->options_.talk_dir.empty()) {
        WriteWav(self->options_.talk_dir + "/talk-" + std::to_string(connection.id) + ".wav",
                 self->talk_[static_cast<size_t>(session)].pcm);
      }
    }
  } live_end{this, connection, talk_session};
  int limit = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    limit = max_connections_;
  }
  if (open_live > limit) {
    sendNotice(link, kKindTooManyConnections);
    return;
  }

  if (!talk_buffer.empty()) receiveTalk(connection.id, talk_buffer, talk_session);

  H264TestPattern pattern(options_.width, options_.height, options_.fps, options_.gop);
  if (file_units_.empty() && !pattern.ok()) return;
  const auto frame_period = milliseconds(1000) / std::max(options_.fps, 1);
  auto next_frame = Clock::now();
  auto next_alarm = Clock::now() + options_.alarm_interval;
  size_t alarm_step = 0;
  uint32_t index = 0;
  uint32_t sent_frames = 0;
  bool script_done = script.action == Action::kNone;
  bool silent = false;
  bool loss_reported = false;

  for (;;) {
    // Scripted fault, once enough frames went out.
    if (!script_done && sent_frames >= script.after_frames) {
      script_done = true;
      switch (script.action) {
        case Action::kNotice:
          if (!sendNotice(link, script.notice_kind) || script.close_after_notice) return;
          break;
        case Action::kCorruptMagic:
        case Action::kOversizedLength: {
          FrameFields fields;
          fields.kind = kKindH264Other;
          fields.zone = zone_;
          const uint8_t filler[64] = {};
          std::vector<uint8_t> frame = buildFrame(fields, filler, sizeof filler);
          if (script.action == Action::kCorruptMagic) {
            putLe32(frame.data() + kOffsetMagic, kCorruptMagic);
          } else {
            putLe32(frame.data() + kOffsetLength, kOversizedLength);
          }
          if (!link.send(frame.data(), frame.size())) return;
          break;
        }
        case Action::kSilence:
          silent = true;
          break;
        case Action::kClose:
          return;
        default:
          break;
      }
    }
    for (uint8_t kind : connection.takeNotices()) {
      if (!silent && !sendNotice(link, kind)) return;
    }
    if (options_.alarm_interval.count() > 0 && Clock::now() >= next_alarm) {
      next_alarm += options_.alarm_interval;
      const uint8_t kind = kAlarmCycle[alarm_step++ % std::size(kAlarmCycle)];
      if (!silent && !sendNotice(link, kind)) return;
    }
    bool lost = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lost = video_loss_;
    }
    if (lost && !loss_reported && !silent) {
      if (!sendNotice(link, kKindVideoLoss)) return;
    }
    loss_reported = lost;

    const auto now = Clock::now();
    if (now >= next_frame) {
      next_frame += frame_period;
      if (now - next_frame > milliseconds(1000)) next_frame = now + frame_period;
      if (!silent && !lost) {
        const auto time = std::time(nullptr);
        const AccessUnit unit =
            file_units_.empty()
                ? pattern.encode(index, time - static_cast<std::time_t>(zone_) * 3600)
                : file_units_[index % file_units_.size()];
        FrameFields fields;
        fields.kind = unit.key ? kKindH264Key : kKindH264Other;
        fields.time = static_cast<uint32_t>(time);
        fields.seq = index;
        fields.zone = zone_;
        ++index;
        const std::vector<uint8_t> frame = buildFrame(fields, unit.bytes.data(), unit.bytes.size());
        if (!link.send(frame.data(), frame.size())) return;
        ++sent_frames;
      }
    }
    // Until the next frame is due, take in what the client sends (talk frames).
    const auto wait = std::chrono::duration_cast<milliseconds>(next_frame - Clock::now());
    const auto event = link.wait(static_cast<int>(std::max<int64_t>(wait.count(), 0)));
    if (event == ConnectionLink::Event::kStopped) return;
    if (event == ConnectionLink::Event::kReadable) {
      uint8_t chunk[8192];
      const ssize_t n = link.receive(chunk, sizeof chunk);
      if (n == 0) return;
      if (n > 0) {
        talk_buffer.insert(talk_buffer.end(), chunk, chunk + n);
        receiveTalk(connection.id, talk_buffer, talk_session);
      }
    }
  }
}

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

std::shared_ptr<const std::vector<uint8_t>> CameraSimulator::Impl::bytesOf(
    const std::string& name) {
  Recording recording;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto cached = recording_bytes_.find(name);
    if (cached != recording_bytes_.end()) return cached->second;
    auto it = std::find_if(recordings_.begin(), recordings_.end(),
                           [&](const Recording& r) { return r.name == name; });
    if (it == recordings_.end()) return nullptr;
    recording = *it;
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  H264TestPattern h264(options_.width, options_.height, options_.fps, options_.gop);
  JpegTestPattern jpeg(options_.width, options_.height);
  if (!recording.mjpeg && !h264.ok()) return nullptr;
  const int fps = std::max(options_.fps, 1);
  for (uint32_t i = 0; i < recording.frames; ++i) {
    const std::time_t time = recording.start + static_cast<std::time_t>(i / fps);
    const std::time_t shown = time - static_cast<std::time_t>(zone_) * 3600;
    FrameFields fields;
    std::vector<uint8_t> payload;
    if (recording.mjpeg) {
      payload = jpeg.encode(i, shown);
      fields.kind = kKindJpeg;
    } else {
      AccessUnit unit = h264.encode(i, shown);
      payload = std::move(unit.bytes);
      fields.kind = unit.key ? kKindH264Key : kKindH264Other;
    }
    if (payload.empty()) return nullptr;
    fields.time = static_cast<uint32_t>(time);
    fields.seq = i;
    fields.zone = zone_;
    const std::vector<uint8_t> frame = buildFrame(fields, payload.data(), payload.size());
    bytes->insert(bytes->end(), frame.begin(), frame.end());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return recording_bytes_.emplace(name, std::move(bytes)).first->second;
}

void CameraSimulator::Impl::servePlayback(ConnectionLink& link, const HttpRequest& request) {
  if (!credentialsMatch(request.value("user"), request.value("pwd"))) {
    sendNotice(link, kKindLoginRefused);
    return;
  }
  const auto bytes = bytesOf(request.value("filename"));
  if (!bytes) return;  // no such recording: the camera just closes
  // Whole frames only: playback starts at the first frame that begins at or
  // after the requested byte offset.
  const long long offset = std::max(0LL, std::atoll(request.value("offset").c_str()));
  size_t position = 0;
  while (position < bytes->size() && static_cast<long long>(position) < offset) {
    position += kFrameHeaderSize + readFrameHeader(bytes->data() + position).length;
  }
  const auto period = options_.playback_fps > 0 ? milliseconds(1000) / options_.playback_fps
                                                 : milliseconds(0);
  while (position < bytes->size()) {
    const size_t size = kFrameHeaderSize + readFrameHeader(bytes->data() + position).length;
    if (!link.send(bytes->data() + position, size)) return;
    position += size;
    if (period.count() > 0 && !link.sleep(period)) return;
  }
}

CameraSimulator::CameraSimulator(SimulatorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

CameraSimulator::~CameraSimulator() = default;

bool CameraSimulator::start() { return impl_->start(); }

void CameraSimulator::stop() { impl_->stop(); }

uint16_t CameraSimulator::port() const { return impl_->bound_port_; }

uint16_t CameraSimulator::searchPort() const {
  return impl_->responder_ ? impl_->responder_->port() : 0;
}

std::string CameraSimulator::lastError() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->last_error_;
}

std::vector<std::string> CameraSimulator::requestLog() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->log_;
}

bool CameraSimulator::waitForRequest(const std::string& text,
                                     std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(impl_->mutex_);
  return impl_->log_changed_.wait_for(lock, timeout, [&] {
    return std::any_of(impl_->log_.begin(), impl_->log_.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  });
}

void CameraSimulator::clearRequestLog() {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->log_.clear();
}

void CameraSimulator::scriptConnection(ConnectionScript script) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->scripts_.push_back(std::move(script));
}

void CameraSimulator::setCredentials(const std::string& user, const std::string& pwd) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->user_ = user;
  impl_->pwd_ = pwd;
}

void CameraSimulator::setMaxConnections(int count) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->max_connections_ = count;
}

void CameraSimulator::setVideoLoss(bool lost) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->video_loss_ = lost;
}

void CameraSimulator::raiseAlarm(uint8_t kind) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  for (auto& connection : impl_->connections_) {
    if (connection->live) connection->notify(kind);
  }
}

std::string CameraSimulator::param(const std::string& key) const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->params_.get(key);
}

void CameraSimulator::setParam(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->params_.set(key, value);
}

void CameraSimulator::setRefuseSets(bool refuse) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->refuse_sets_ = refuse;
}

void CameraSimulator::setWifiNetworks(int count) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->wifi_networks_ = count;
}

void CameraSimulator::setRecordings(std::vector<Recording> recordings) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->recordings_ = std::move(recordings);
  impl_->recording_bytes_.clear();
}

std::vector<Recording> CameraSimulator::recordings() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->recordings_;
}

std::vector<uint8_t> CameraSimulator::recordingBytes(const std::string& name) {
  const auto bytes = impl_->bytesOf(name);
  return bytes ? *bytes : std::vector<uint8_t>{};
}

std::vector<TalkSession> CameraSimulator::talkSessions() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->talk_;
}

int CameraSimulator::liveConnections() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->live_count_;
}

int CameraSimulator::reboots() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->reboots_;
}

}  // namespace lumvara::camsim
