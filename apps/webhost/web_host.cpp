#include "apps/webhost/web_host.h"

#include <lumvara/control.h>
#include <lumvara/module.h>

#include <utility>  // Boost 1.74 asio uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "apps/webhost/control_host.h"
#include "apps/webhost/page_protocol.h"
#include "apps/webhost/record_list.h"
#include "apps/webhost/security.h"
#include "apps/webhost/type_library.h"
#include "apps/webhost/web_assets.h"

namespace lumvara::webhost {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using nlohmann::json;

constexpr auto kHttpTimeout = std::chrono::seconds(30);
constexpr size_t kHeaderLimit = 8 * 1024;

std::string_view View(beast::string_view s) { return {s.data(), s.size()}; }

}  // namespace

struct WebHost::Impl : std::enable_shared_from_this<WebHost::Impl> {
  explicit Impl(HostOptions o) : options(std::move(o)), origins(0, {}) {}

  HostOptions options;
  net::io_context ioc{1};
  std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
  uint16_t port = 0;
  OriginPolicy origins;
  std::string token;
  bool tokenUsed = false;
  std::set<std::string> sessions;  // cookies handed out; io thread only
  int pages = 0;                   // io thread only
  std::optional<TypeLibrary> library;
  std::atomic<bool> stopping{false};
  std::optional<net::signal_set> signals;

  // Controls of closed pages are torn down, and records are listed, on
  // threads of their own so that the io thread keeps serving; finished ones
  // are joined as new ones start, the rest by Run() before it returns.
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex workersMutex;
  std::vector<Worker> workers;

  void Accept(tcp::acceptor& acceptor);
  bool HasSession(std::string_view cookieHeader) const {
    const std::string value = CookieValue(cookieHeader, kSessionCookie);
    return !value.empty() && sessions.count(value) != 0;
  }
  void RunWorker(std::function<void()> work) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([work = std::move(work), done] {
      work();
      *done = true;
    });
    std::lock_guard lock(workersMutex);
    for (auto it = workers.begin(); it != workers.end();) {
      if (*it->done) {
        it->thread.join();
        it = workers.erase(it);
      } else {
        ++it;
      }
    }
    workers.push_back(Worker{std::move(thread), done});
  }
  void TearDown(std::vector<std::unique_ptr<ControlHost>> controls) {
    if (controls.empty()) return;
    for (auto& c : controls) c->RequestQuit();
    auto shared = std::make_shared<std::vector<std::unique_ptr<ControlHost>>>(std::move(controls));
    RunWorker([shared] { shared->clear(); });
  }
  void JoinWorkers() {
    std::vector<Worker> all;
    {
      std::lock_guard lock(workersMutex);
      all.swap(workers);
    }
    for (auto& w : all) w.thread.join();
  }
};

namespace {

using HostPtr = std::shared_ptr<WebHost::Impl>;

// ---- A page's WebSocket -------------------------------------------------

class PageSession : public PageLink, public std::enable_shared_from_this<PageSession> {
 public:
  PageSession(tcp::socket socket, HostPtr host) : ws_(std::move(socket)), host_(std::move(host)) {}

  void Accept(http::request<http::string_body> request) {
    ws_.read_message_max(host_->options.maxMessageBytes);
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ++host_->pages;
    counted_ = true;
    ws_.async_accept(request, beast::bind_front_handler(&PageSession::OnAccept, shared_from_this()));
  }

  void SendText(std::string text) override { Queue(false, std::move(text)); }
  void SendBinary(std::string bytes) override { Queue(true, std::move(bytes)); }
  void ControlFailed(int id) override {
    net::post(ws_.get_executor(), [self = shared_from_this(), id] {
      auto it = self->controls_.find(id);
      if (it == self->controls_.end()) return;
      std::vector<std::unique_ptr<ControlHost>> gone;
      gone.push_back(std::move(it->second));
      self->controls_.erase(it);
      self->host_->TearDown(std::move(gone));
    });
  }

 private:
  void OnAccept(beast::error_code ec) {
    if (ec) return Close();
    Read();
  }

  void Read() { ws_.async_read(buffer_, beast::bind_front_handler(&PageSession::OnRead, shared_from_this())); }

  void OnRead(beast::error_code ec, size_t) {
    if (ec) return Close();  // closed, dropped, or a message over the limit
    if (!ws_.got_text()) return Close();
    const std::string text = beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    Handle(text);
    if (!closed_) Read();
  }

  void Error(const json& id, const std::string& message) {
    SendText(json{{"id", id}, {"ok", false}, {"error", message}}.dump());
  }

  void Handle(const std::string& text) {
    PageRequest request;
    std::string problem;
    if (!ParsePageRequest(text, &request, &problem)) {
      return Error(request.id.is_null() ? json(nullptr) : request.id, problem);
    }
    if (request.op == PageOp::kCreate) return Create(request);
    if (request.op == PageOp::kRecords) return Records(request);
    auto it = controls_.find(request.control);
    if (it == controls_.end()) return Error(request.id, "no such control");
    ControlHost& control = *it->second;
    switch (request.op) {
      case PageOp::kCall:
        return control.Call(request.id.get<int64_t>(), request.name, request.args);
      case PageOp::kPut:
        return control.Put(request.id.get<int64_t>(), request.name, request.value);
      case PageOp::kPlayDemo:
        return PlayDemo(request, control);
      case PageOp::kDrawn:
        return control.PictureDrawn();
      case PageOp::kMouse:
        return control.Mouse(request.x, request.y, request.button, request.clicks);
      case PageOp::kKey:
        return control.Key(request.key);
      case PageOp::kResize:
        return control.Resize(request.width, request.height);
      case PageOp::kScreen:
        return control.Screen(request.width, request.height);
      case PageOp::kPropertyPage:
        return control.PropertyPage(request.id.get<int64_t>(), request.width, request.height);
      case PageOp::kDestroy: {
        std::vector<std::unique_ptr<ControlHost>> gone;
        gone.push_back(std::move(it->second));
        controls_.erase(it);
        host_->TearDown(std::move(gone));
        SendText(json{{"id", request.id}, {"ok", true}, {"result", nullptr}}.dump());
        return;
      }
      case PageOp::kCreate:
      case PageOp::kRecords:
        break;
    }
  }

  void Create(const PageRequest& request) {
    if (static_cast<int>(controls_.size()) >= host_->options.maxControlsPerPage) {
      return Error(request.id, "too many controls on this page");
    }
    if (!host_->library) return Error(request.id, "the control's type library is unavailable");
    const int rc = lumvara_registry_is_safe(LUMVARA_CONTROL_PROGID);
    if (rc != 1) return Error(request.id, "the control is not registered as safe for scripting and initialising");
    const int id = nextControl_++;
    auto control = std::make_unique<ControlHost>(id, shared_from_this(), *host_->library);
    control->Start(request.id.get<int64_t>(), request.width, request.height);
    controls_.emplace(id, std::move(control));
  }

  // Lists the camera's recordings on a thread of its own: the camera may
  // take a while and the io thread keeps serving meanwhile.
  void Records(const PageRequest& request) {
    auto self = shared_from_this();
    host_->RunWorker([self, request] {
      std::vector<RecordEntry> files;
      std::string error;
      if (!ListRecords(request, &files, &error)) {
        return self->SendText(json{{"id", request.id}, {"ok", false}, {"error", error}}.dump());
      }
      json list = json::array();
      for (const RecordEntry& f : files) list.push_back({{"name", f.name}, {"size", f.size}});
      self->SendText(json{{"id", request.id}, {"ok", true}, {"result", list}}.dump());
    });
  }

  // Plays the camera given on the host's command line; its password stays
  // in the host and never reaches the page.
  void PlayDemo(const PageRequest& request, ControlHost& control) {
    const HostOptions& o = host_->options;
    const size_t colon = o.demoCamera.rfind(':');
    if (o.demoCamera.empty() || colon == std::string::npos) return Error(request.id, "no demo camera");
    const std::string address = o.demoCamera.substr(0, colon);
    const int port = std::atoi(o.demoCamera.c_str() + colon + 1);
    control.Call(request.id.get<int64_t>(), "PlayVideo", json::array({o.demoUser, o.demoPwd, address, port, 0, 0}));
  }

  void Queue(bool binary, std::string bytes) {
    net::post(ws_.get_executor(), [self = shared_from_this(), binary, bytes = std::move(bytes)]() mutable {
      if (self->closed_) return;
      self->outbox_.emplace_back(binary, std::move(bytes));
      if (self->outbox_.size() == 1) self->Write();
    });
  }

  void Write() {
    ws_.binary(outbox_.front().first);
    ws_.async_write(net::buffer(outbox_.front().second),
                    beast::bind_front_handler(&PageSession::OnWrite, shared_from_this()));
  }

  void OnWrite(beast::error_code ec, size_t) {
    if (ec) return Close();
    outbox_.pop_front();
    if (!outbox_.empty()) Write();
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    outbox_.clear();
    if (counted_) --host_->pages;
    std::vector<std::unique_ptr<ControlHost>> gone;
    for (auto& [id, control] : controls_) gone.push_back(std::move(control));
    controls_.clear();
    host_->TearDown(std::move(gone));
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

  websocket::stream<beast::tcp_stream> ws_;
  HostPtr host_;
  beast::flat_buffer buffer_;
  std::deque<std::pair<bool, std::string>> outbox_;
  std::map<int, std::unique_ptr<ControlHost>> controls_;
  int nextControl_ = 1;
  bool closed_ = false;
  bool counted_ = false;
};

// ---- Plain HTTP ---------------------------------------------------------

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, HostPtr host) : stream_(std::move(socket)), host_(std::move(host)) {}

  void Start() { Read(); }

 private:
  using Request = http::request<http::string_body>;
  using Response = http::response<http::string_body>;

  void Read() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(host_->options.maxMessageBytes);
    stream_.expires_after(kHttpTimeout);
    http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::OnRead, shared_from_this()));
  }

  void OnRead(beast::error_code ec, size_t) {
    if (ec == http::error::body_limit || ec == http::error::header_limit) {
      return Send(Plain(http::status::payload_too_large, 11, "too large\n"), true);
    }
    if (ec) return Close();
    Request request = parser_->release();
    Route(std::move(request));
  }

  Response Plain(http::status status, unsigned version, std::string body) {
    Response r{status, version};
    r.set(http::field::content_type, "text/plain; charset=utf-8");
    r.body() = std::move(body);
    return r;
  }

  void Route(Request request) {
    const unsigned version = request.version();
    // Host first: a page of another site reaching us under its own name
    // (DNS rebinding) is refused before anything else is looked at.
    if (!HostAllowed(View(request[http::field::host]), host_->port)) {
      return Send(Plain(http::status::forbidden, version, "forbidden\n"), true);
    }
    const std::string target(request.target());
    // Routes are chosen by path alone, so a query cannot sneak past a check.
    const std::string path = target.substr(0, target.find('?'));
    const bool session = host_->HasSession(View(request[http::field::cookie]));

    if (websocket::is_upgrade(request)) {
      if (path != "/ws" || !host_->origins.Allowed(View(request[http::field::origin])) || !session) {
        return Send(Plain(http::status::forbidden, version, "forbidden\n"), true);
      }
      if (host_->pages >= host_->options.maxPages) {
        return Send(Plain(http::status::service_unavailable, version, "too many pages\n"), true);
      }
      stream_.expires_never();
      std::make_shared<PageSession>(stream_.release_socket(), host_)->Accept(std::move(request));
      return;
    }

    if (path == "/session") {
      if (request.method() != http::verb::post) {
        return Send(Plain(http::status::method_not_allowed, version, "use POST\n"), false);
      }
      const std::string_view origin = View(request[http::field::origin]);
      if (!origin.empty() && !host_->origins.Allowed(origin)) {
        return Send(Plain(http::status::forbidden, version, "forbidden\n"), true);
      }
      if (host_->tokenUsed || !SecretsEqual(request.body(), host_->token)) {
        return Send(Plain(http::status::forbidden, version, "forbidden\n"), true);
      }
      host_->tokenUsed = true;
      const std::string cookie = RandomToken();
      if (cookie.empty()) return Send(Plain(http::status::internal_server_error, version, "no random source\n"), true);
      host_->sessions.insert(cookie);
      Response r{http::status::no_content, version};
      r.set(http::field::set_cookie, SessionCookieHeader(cookie));
      return Send(std::move(r), false);
    }

    if (request.method() != http::verb::get && request.method() != http::verb::head) {
      return Send(Plain(http::status::method_not_allowed, version, "not allowed\n"), false);
    }
    if (!request.body().empty()) {
      return Send(Plain(http::status::bad_request, version, "a GET carries no body\n"), true);
    }
    if (path == "/surface.json") {
      if (!session) return Send(Plain(http::status::forbidden, version, "forbidden\n"), false);
      Response r{http::status::ok, version};
      r.set(http::field::content_type, "application/json");
      r.body() = host_->library->SurfaceJson();
      return Send(std::move(r), false);
    }
    if (path == "/config.json") {
      if (!session) return Send(Plain(http::status::forbidden, version, "forbidden\n"), false);
      Response r{http::status::ok, version};
      r.set(http::field::content_type, "application/json");
      r.body() = json{{"demoCamera", host_->options.demoCamera}, {"demoUser", host_->options.demoUser}}.dump();
      return Send(std::move(r), false);
    }
    if (path == "/favicon.ico") return Send(Response{http::status::no_content, version}, false);
    const WebAsset* asset = FindWebAsset(path == "/" ? "/index.html" : path);
    if (asset == nullptr) return Send(Plain(http::status::not_found, version, "not found\n"), false);
    Response r{http::status::ok, version};
    r.set(http::field::content_type, asset->contentType);
    r.body().assign(asset->data, asset->size);
    if (request.method() == http::verb::head) r.body().clear();
    Send(std::move(r), false);
  }

  void Send(Response response, bool close) {
    response.set(http::field::server, "lumvara-webhost");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' blob:; connect-src 'self'; frame-ancestors 'none'");
    response.set("Referrer-Policy", "no-referrer");
    response.keep_alive(!close && response.keep_alive());
    response.prepare_payload();
    auto shared = std::make_shared<Response>(std::move(response));
    http::async_write(stream_, *shared, [self = shared_from_this(), shared](beast::error_code ec, size_t) {
      if (ec || !shared->keep_alive()) return self->Close();
      self->Read();
    });
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.socket().close(ignored);
  }

  beast::tcp_stream stream_;
  HostPtr host_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

}  // namespace

void WebHost::Impl::Accept(tcp::acceptor& acceptor) {
  acceptor.async_accept(net::make_strand(ioc),
                        [self = shared_from_this(), &acceptor](beast::error_code ec, tcp::socket socket) {
                          if (self->stopping) return;
                          if (!ec) {
                            // Pictures, events and answers go out as soon as they are written: a
                            // message's last segment must not wait for the page's delayed
                            // acknowledgement of the one before.
                            beast::error_code ignored;
                            socket.set_option(tcp::no_delay(true), ignored);
                            std::make_shared<HttpSession>(std::move(socket), self)->Start();
                          }
                          self->Accept(acceptor);
                        });
}

WebHost::WebHost(HostOptions options) : impl_(std::make_shared<Impl>(std::move(options))) {}

WebHost::~WebHost() { Stop(); }

bool WebHost::Start(std::string* error) {
  Impl& h = *impl_;
  h.token = h.options.token.empty() ? RandomToken() : h.options.token;
  if (h.token.empty()) {
    *error = "no random source for the launch token";
    return false;
  }
  h.library = TypeLibrary::Parse(lumvara_control_type_library());
  if (!h.library) {
    *error = "the library's type library cannot be read";
    return false;
  }
  beast::error_code ec;
  auto v4 = std::make_unique<tcp::acceptor>(h.ioc);
  const tcp::endpoint e4(net::ip::make_address("127.0.0.1"), h.options.port);
  v4->open(e4.protocol(), ec);
  if (!ec) v4->set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) v4->bind(e4, ec);
  if (!ec) v4->listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(h.options.port) + ": " + ec.message();
    return false;
  }
  h.port = v4->local_endpoint().port();
  h.acceptors.push_back(std::move(v4));
  // ::1 on the same port when the machine has IPv6 loopback; optional.
  auto v6 = std::make_unique<tcp::acceptor>(h.ioc);
  const tcp::endpoint e6(net::ip::make_address("::1"), h.port);
  v6->open(e6.protocol(), ec);
  if (!ec) v6->set_option(net::ip::v6_only(true), ec);
  if (!ec) v6->set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) v6->bind(e6, ec);
  if (!ec) v6->listen(net::socket_base::max_listen_connections, ec);
  if (!ec) h.acceptors.push_back(std::move(v6));
  h.origins = OriginPolicy(h.port, h.options.allowOrigins);
  for (auto& a : h.acceptors) h.Accept(*a);
  if (h.options.stopOnSignals) {
    h.signals.emplace(h.ioc, SIGINT, SIGTERM);
    h.signals->async_wait([this](beast::error_code signalError, int) {
      if (!signalError) Stop();
    });
  }
  return true;
}

uint16_t WebHost::port() const { return impl_->port; }

std::string WebHost::Url() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + "/#token=" + impl_->token;
}

void WebHost::Run() {
  impl_->ioc.run();
  impl_->JoinWorkers();
}

void WebHost::Stop() {
  impl_->stopping = true;
  net::post(impl_->ioc, [impl = impl_] {
    beast::error_code ignored;
    for (auto& a : impl->acceptors) a->close(ignored);
    impl->ioc.stop();
  });
}

}  // namespace lumvara::webhost
