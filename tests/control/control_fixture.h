// A control in a headless window, driven through the hosting API, with its
// events recorded; and small helpers to call methods by name.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <lumvara/control.h>
#include <lumvara/window.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace control_test {

inline constexpr int kWindowWidth = 400;
inline constexpr int kWindowHeight = 300;

// An argument or a value for Call / Put.
struct Arg {
  Arg(int value) : vt(LUMVARA_VT_I4), l(value) {}                   // NOLINT: implicit on purpose
  Arg(const char* value) : vt(LUMVARA_VT_BSTR), s(value) {}         // NOLINT
  Arg(const std::string& value) : vt(LUMVARA_VT_BSTR), s(value) {}  // NOLINT
  int32_t vt;
  int32_t l = 0;
  std::string s;
};

// One thing the sink heard.
struct Heard {
  int kind;
  int dispid;
  std::vector<int32_t> longs;        // I4 arguments in order
  std::vector<std::string> strings;  // BSTR arguments in order
  bool operator==(const Heard&) const = default;
};

// 0x00RRGGBB of a pixel of a BGRX picture.
inline uint32_t Pixel(const std::vector<uint8_t>& bgrx, int width, int x, int y) {
  const uint8_t* p = bgrx.data() + (static_cast<size_t>(y) * width + x) * 4;
  return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

inline constexpr uint32_t kRed = 0xFF0000;
inline constexpr uint32_t kGrey = 0xACACAC;
inline constexpr uint32_t kBlack = 0x000000;
inline constexpr uint32_t kYellow = 0xFFFF00;

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("lumvara-control-" + std::to_string(::getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "home");
    ini_ = (dir_ / "Lumvara.ini").string();
    // Each test has its own settings file and home folder (the default
    // recording folder). Set before any thread of the test starts.
    ::setenv("LUMVARA_INI", ini_.c_str(), 1);
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("LUMVARA_FOLDER_PICKER_CHOICE", "", 1);  // a chooser counts as cancelled
    // No test reaches the desktop's sound server: without a test server
    // (PULSE_SERVER from the test fixture) sound opens fail cleanly.
    ::setenv("PULSE_SERVER", "unix:/nonexistent/lumvara/pulse/native", 0);
    // A camera search never leaves the machine: its request goes to a UDP
    // socket of the test's own on loopback, which the search tests answer
    // from. The control reads the destination when it is created.
    OpenSearchSink();
    BeforeCreate();
    top_ = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "control test", kWindowWidth, kWindowHeight);
    ASSERT_NE(top_, nullptr);
    control_ = lumvara_control_create(LUMVARA_CONTROL_PROGID, top_, 0, 0, kWindowWidth, kWindowHeight);
    ASSERT_NE(control_, nullptr);
    ASSERT_EQ(lumvara_control_advise(control_, &ControlTest::Sink, this), 1);
    Pump(0);
  }

  void TearDown() override {
    if (control_) {
      EXPECT_EQ(lumvara_control_destroy(control_), 1);
    }
    if (top_) lumvara_window_destroy(top_);
    if (searchSink_ >= 0) ::close(searchSink_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Runs before the control is created (to write a settings file).
  virtual void BeforeCreate() {}

  void OpenSearchSink() {
    searchSink_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(searchSink_, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(searchSink_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t size = sizeof local;
    ASSERT_EQ(::getsockname(searchSink_, reinterpret_cast<sockaddr*>(&local), &size), 0);
    ::setenv("LUMVARA_SEARCH_ADDR", "127.0.0.1", 1);
    ::setenv("LUMVARA_SEARCH_PORT", std::to_string(ntohs(local.sin_port)).c_str(), 1);
  }

  // Waits for the next datagram at the search socket (pumping the control's
  // window meanwhile unless `pump` is false); its bytes, and in `from` the
  // sender. Empty when none came within `timeout`.
  std::string ReceiveSearchRequest(sockaddr_in* from, std::chrono::milliseconds timeout, bool pump = true) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[1500];
    for (;;) {
      socklen_t size = sizeof *from;
      const ssize_t got =
          ::recvfrom(searchSink_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(from), &size);
      if (got >= 0) return std::string(buffer, static_cast<size_t>(got));
      if (std::chrono::steady_clock::now() >= deadline) return {};
      if (pump) {
        lumvara_window_pump(5);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  }

  static void Sink(LumvaraControl, int kind, int dispid, const LumvaraVariant* args, int argc, void* context) {
    auto* self = static_cast<ControlTest*>(context);
    Heard heard{kind, dispid, {}, {}};
    for (int i = 0; i < argc; ++i) {
      if (args[i].vt == LUMVARA_VT_I4) heard.longs.push_back(args[i].lVal);
      if (args[i].vt == LUMVARA_VT_BSTR) heard.strings.push_back(args[i].bstrVal ? args[i].bstrVal : "");
    }
    self->heard_.push_back(heard);
    self->heardAt_.push_back(std::chrono::steady_clock::now());
  }

  int Dispid(const char* name) { return lumvara_control_get_dispid(control_, name); }

  // Calls a method by name; its integer result (0 for methods without one).
  int32_t Call(const char* name, const std::vector<Arg>& args = {}, long* hr = nullptr) {
    std::vector<LumvaraVariant> variants;
    for (const Arg& a : args) variants.push_back({a.vt, a.l, a.vt == LUMVARA_VT_BSTR ? a.s.c_str() : nullptr});
    LumvaraVariant result{};
    const long code = lumvara_control_invoke(control_, Dispid(name), LUMVARA_DISPATCH_METHOD, variants.data(),
                                             static_cast<int>(variants.size()), &result);
    if (hr) {
      *hr = code;
    } else {
      EXPECT_EQ(code, LUMVARA_S_OK) << name;
    }
    const int32_t value = result.lVal;
    lumvara_variant_clear(&result);
    return value;
  }

  int32_t GetLong(const char* name) {
    LumvaraVariant result{};
    EXPECT_EQ(lumvara_control_invoke(control_, Dispid(name), LUMVARA_DISPATCH_PROPERTYGET, nullptr, 0, &result),
              LUMVARA_S_OK);
    EXPECT_EQ(result.vt, LUMVARA_VT_I4) << name;
    return result.lVal;
  }

  std::string GetString(const char* name) {
    LumvaraVariant result{};
    EXPECT_EQ(lumvara_control_invoke(control_, Dispid(name), LUMVARA_DISPATCH_PROPERTYGET, nullptr, 0, &result),
              LUMVARA_S_OK);
    std::string value = result.vt == LUMVARA_VT_BSTR && result.bstrVal ? result.bstrVal : "";
    lumvara_variant_clear(&result);
    return value;
  }

  long Put(const char* name, const Arg& value) {
    LumvaraVariant v{value.vt, value.l, value.vt == LUMVARA_VT_BSTR ? value.s.c_str() : nullptr};
    return lumvara_control_invoke(control_, Dispid(name), LUMVARA_DISPATCH_PROPERTYPUT, &v, 1, nullptr);
  }

  // Dispatches window messages for about `ms` milliseconds (0: what is ready).
  void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
      lumvara_window_pump(ms == 0 ? 0 : 10);
    } while (std::chrono::steady_clock::now() < end);
  }

  // Pumps until `condition` holds; false when `timeout` passed first.
  template <typename Condition>
  bool PumpUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      lumvara_window_pump(10);
    }
    return true;
  }

  void Forget() {
    heard_.clear();
    heardAt_.clear();
  }

  // The events (not property changes) heard so far.
  std::vector<Heard> Events() const {
    std::vector<Heard> events;
    for (const Heard& h : heard_) {
      if (h.kind == LUMVARA_SINK_EVENT) events.push_back(h);
    }
    return events;
  }
  int CountNotify(int lType) const {
    int count = 0;
    for (const Heard& h : Events()) {
      if (h.dispid == 1 && !h.longs.empty() && h.longs[0] == lType) ++count;
    }
    return count;
  }

  // The headless window's pixels.
  std::vector<uint8_t> Pixels(LumvaraWindow window, int* width, int* height) {
    const long need = lumvara_window_read_pixels(window, nullptr, 0, 0, width, height);
    std::vector<uint8_t> pixels(static_cast<size_t>(need));
    lumvara_window_read_pixels(window, pixels.data(), need, 0, width, height);
    return pixels;
  }
  uint32_t PixelOfTop(int x, int y) {
    int w = 0;
    int h = 0;
    const auto pixels = Pixels(top_, &w, &h);
    return Pixel(pixels, w, x, y);
  }

  std::filesystem::path dir_;
  std::string ini_;
  LumvaraWindow top_ = nullptr;
  LumvaraControl control_ = nullptr;
  int searchSink_ = -1;  // where the control's search requests arrive
  std::vector<Heard> heard_;
  std::vector<std::chrono::steady_clock::time_point> heardAt_;  // when each was heard
};

}  // namespace control_test
