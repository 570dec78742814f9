#include "apps/camsim/camera_simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "apps/camsim/camera_simulator_impl.h"
#include "apps/camsim/h264_file_source.h"
#include "apps/camsim/stream_frame.h"

// Listening, accepting and reaping connections, the reboot, the dispatch of
// each request to its endpoint, and the public calls. The endpoints
// themselves live one group per file (see camera_simulator_impl.h).

namespace lumvara::camsim {
namespace {

constexpr char kLiveCgi[] = "livestream.cgi";
constexpr char kAudioCgi[] = "audiostream.cgi";
constexpr int kPlaybackStreamId = 4;
constexpr int kFirstRequestTimeoutMs = 10000;

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

}  // namespace

CameraSimulator::Impl::Impl(SimulatorOptions options)
    : options_(std::move(options)),
      user_(options_.user),
      pwd_(options_.pwd),
      maxConnections_(options_.max_connections),
      wifiNetworks_(options_.wifi_networks),
      recordings_(DefaultRecordings()),
      zone_(options_.zone.value_or(HostZone())) {}

bool CameraSimulator::Impl::start() {
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  acceptWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0 || acceptWake_ < 0) return false;
  if (!options_.live_file.empty()) {
    auto units = LoadAccessUnits(options_.live_file);
    if (!units) {
      fail("no H.264 pictures in " + options_.live_file);
      return false;
    }
    fileUnits_ = std::move(*units);
  }
  if (!listen()) return false;
  if (options_.search_port >= 0) {
    SearchResponderOptions search;
    search.bind_address = options_.search_bind_address;
    search.port = static_cast<uint16_t>(options_.search_port);
    search.camera_ip = options_.bind_address == "0.0.0.0" ? "127.0.0.1" : options_.bind_address;
    search.camera_port = boundPort_;
    search.camera_name = options_.camera_name;
    responder_ = std::make_unique<SearchResponder>(search);
    if (!responder_->start()) {
      fail("cannot bind the search responder to " + options_.search_bind_address + ":" +
           std::to_string(options_.search_port));
      responder_.reset();
      return false;
    }
  }
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

bool CameraSimulator::Impl::listen() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  const uint16_t port = boundPort_.load();
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
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
    fail("cannot listen on " + options_.bind_address + ":" + std::to_string(ntohs(address.sin_port)) + ": " +
         std::strerror(errno));
    ::close(fd);
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  boundPort_ = ntohs(address.sin_port);
  listenFd_ = fd;
  return true;
}

void CameraSimulator::Impl::stop() {
  if (acceptThread_.joinable()) {
    const uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof one);
    acceptThread_.join();
  }
  reap(true);
  if (responder_) responder_->stop();
  if (listenFd_ >= 0) ::close(listenFd_);
  if (stopFd_ >= 0) ::close(stopFd_);
  if (acceptWake_ >= 0) ::close(acceptWake_);
  listenFd_ = stopFd_ = acceptWake_ = -1;
}

void CameraSimulator::Impl::acceptLoop() {
  for (;;) {
    pollfd fds[3] = {{stopFd_, POLLIN, 0}, {acceptWake_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    const nfds_t count = listenFd_ >= 0 ? 3 : 2;
    ::poll(fds, count, 200);
    if (fds[0].revents != 0) return;
    if (fds[1].revents != 0) {
      uint64_t value = 0;
      (void)!::read(acceptWake_, &value, sizeof value);
      if (rebootRequested_.exchange(false)) reboot();
    }
    reap(false);
    if (count < 3 || (fds[2].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    connection->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connection->id = nextId_++;
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
  ::close(listenFd_);
  listenFd_ = -1;
  pollfd stop = {stopFd_, POLLIN, 0};
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
  logChanged_.notify_all();
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

bool CameraSimulator::Impl::credentialsMatch(const std::string& user, const std::string& pwd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return user == user_ && pwd == pwd_;
}

void CameraSimulator::Impl::serve(const std::shared_ptr<Connection>& connection) {
  ConnectionLink link(connection->fd, stopFd_, connection->wake);
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

bool CameraSimulator::Impl::sendNotice(ConnectionLink& link, uint8_t kind) {
  FrameFields fields;
  fields.kind = kind;
  fields.time = static_cast<uint32_t>(std::time(nullptr));
  fields.zone = zone_;
  const std::vector<uint8_t> frame = buildFrame(fields, nullptr, 0);
  return link.send(frame.data(), frame.size());
}

CameraSimulator::CameraSimulator(SimulatorOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

CameraSimulator::~CameraSimulator() = default;

bool CameraSimulator::start() { return impl_->start(); }

void CameraSimulator::stop() { impl_->stop(); }

uint16_t CameraSimulator::port() const { return impl_->boundPort_; }

uint16_t CameraSimulator::searchPort() const { return impl_->responder_ ? impl_->responder_->port() : 0; }

std::string CameraSimulator::lastError() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->lastError_;
}

std::vector<std::string> CameraSimulator::requestLog() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->log_;
}

bool CameraSimulator::waitForRequest(const std::string& text, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(impl_->mutex_);
  return impl_->logChanged_.wait_for(lock, timeout, [&] {
    return std::any_of(impl_->log_.begin(), impl_->log_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
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
  impl_->maxConnections_ = count;
}

void CameraSimulator::setVideoLoss(bool lost) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->videoLoss_ = lost;
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
  impl_->refuseSets_ = refuse;
}

void CameraSimulator::setWifiNetworks(int count) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->wifiNetworks_ = count;
}

void CameraSimulator::setRecordings(std::vector<Recording> recordings) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->recordings_ = std::move(recordings);
  impl_->recordingBytes_.clear();
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

size_t CameraSimulator::talkRecordBytes() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  size_t bytes = impl_->talk_.capacity() * sizeof(TalkSession);
  for (const TalkSession& talk : impl_->talk_) {
    bytes += (talk.seqs.capacity() + talk.lengths.capacity()) * sizeof(uint32_t) + talk.payload.capacity() +
             talk.pcm.capacity() * sizeof(int16_t);
  }
  return bytes;
}

int CameraSimulator::liveConnections() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->liveCount_;
}

int CameraSimulator::reboots() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->reboots_;
}

}  // namespace lumvara::camsim
