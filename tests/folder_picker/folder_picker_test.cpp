// The folder chooser: an injected choice comes first; then the desktop
// portal (a portal of the test's own on a private session bus); then zenity
// (a stand-in script on PATH that records its command line); else cancelled.
#include "platform/folder_picker/folder_picker.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/folder_picker/choosers.h"
#include "tests/scoped_env.h"

extern char** environ;

namespace lumvara::folder_picker {
namespace {

namespace fs = std::filesystem;

using lumvara::test::ScopedEnv;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A world with no chooser at all: no session bus, nothing on PATH. Tests add
// what they need.
class FolderPicker : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lumvara-picker-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "bin");
    fs::create_directory(dir_ / "runtime");
    env_.emplace_back("LUMVARA_FOLDER_PICKER_CHOICE", nullptr);
    env_.emplace_back("DBUS_SESSION_BUS_ADDRESS", nullptr);
    env_.emplace_back("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str());
    env_.emplace_back("PATH", (dir_ / "bin").c_str());
    env_.emplace_back("ZENITY_ARGS_FILE", (dir_ / "zenity-args").c_str());
  }
  void TearDown() override {
    env_.clear();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A zenity that records its arguments, one a line, and answers `answer`
  // (nullopt: the user cancels, exit status 1).
  void InstallZenity(std::optional<std::string> answer) {
    const fs::path script = dir_ / "bin" / "zenity";
    std::ofstream out(script);
    out << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$ZENITY_ARGS_FILE\"\n";
    if (answer) {
      out << "printf '%s\\n' '" << *answer << "'\n";
    } else {
      out << "exit 1\n";
    }
    out.close();
    fs::permissions(script, fs::perms::owner_all);
  }
  std::string ZenityArgs() const { return ReadFile(dir_ / "zenity-args"); }
  bool ZenityRan() const { return fs::exists(dir_ / "zenity-args"); }

  fs::path dir_;
  std::deque<ScopedEnv> env_;  // never moved: each one restores its variable
};

TEST_F(FolderPicker, InjectedChoiceAndCancel) {
  {
    ScopedFolderChoice choose("/tmp/chosen");
    EXPECT_EQ(ChooseFolder("Selection"), std::optional<std::string>("/tmp/chosen"));
    EXPECT_EQ(choose.calls(), 1);
    EXPECT_EQ(choose.lastTitle(), "Selection");
  }
  {
    ScopedFolderChoice cancel(std::nullopt);
    InstallZenity("/tmp/zenity");  // never asked while a choice is injected
    EXPECT_EQ(ChooseFolder("Selection"), std::nullopt);
    EXPECT_EQ(cancel.calls(), 1);
    EXPECT_FALSE(ZenityRan());
  }
}

TEST_F(FolderPicker, EnvironmentChoiceAndCancel) {
  InstallZenity("/tmp/zenity");
  {
    ScopedEnv choice("LUMVARA_FOLDER_PICKER_CHOICE", "/srv/recordings");
    EXPECT_EQ(ChooseFolder("Selection"), std::optional<std::string>("/srv/recordings"));
    ScopedFolderChoice hook("/from/hook");  // the hook goes before the environment
    EXPECT_EQ(ChooseFolder("Selection"), std::optional<std::string>("/from/hook"));
  }
  {
    ScopedEnv cancel("LUMVARA_FOLDER_PICKER_CHOICE", "");
    EXPECT_EQ(ChooseFolder("Selection"), std::nullopt);
  }
  EXPECT_FALSE(ZenityRan());
}

TEST_F(FolderPicker, NoChooserCountsAsCancelled) { EXPECT_EQ(ChooseFolder("Selection"), std::nullopt); }

TEST_F(FolderPicker, ZenityAsksForADirectoryWithTheTitle) {
  InstallZenity("/home/user/My Videos");
  int idles = 0;
  EXPECT_EQ(ChooseFolder("Selection", [&] { ++idles; }), std::optional<std::string>("/home/user/My Videos"));
  EXPECT_EQ(ZenityArgs(), "--file-selection\n--directory\n--title\nSelection\n");
}

TEST_F(FolderPicker, ZenityCancel) {
  InstallZenity(std::nullopt);
  EXPECT_EQ(ChooseFolder("Selection"), std::nullopt);
  EXPECT_TRUE(ZenityRan());
}

TEST(FolderPickerUri, FileUrisBecomePaths) {
  const struct {
    const char* uri;
    std::optional<std::string> path;
  } cases[] = {
      {"file:///home/user/Videos", "/home/user/Videos"},
      {"file:///home/user/My%20Videos/", "/home/user/My Videos"},
      {"file://localhost/srv/x", "/srv/x"},
      {"file:///caf%C3%A9", "/caf\xC3\xA9"},
      {"file:///bad%2", "/bad%2"},
      {"file:///", "/"},
      {"file:///nul%00byte", std::nullopt},
      {"file://otherhost/x", std::nullopt},
      {"https://example.invalid/x", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(PathFromFileUri(c.uri), c.path) << c.uri;
}

// The PATH the test was started with (the fixtures replace it).
const std::string kStartPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";

std::string FindProgram(const std::string& name) {
  std::stringstream dirs(kStartPath);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// A session bus of the test's own: dbus-daemon with no service folders, so
// nothing on the machine can be started on it.
class PrivateBus {
 public:
  explicit PrivateBus(const fs::path& dir) {
    const fs::path config = dir / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir=" << dir.string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy></busconfig>\n";
    const std::string program = FindProgram("dbus-daemon");
    int out[2];
    if (program.empty() || ::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string configArg = "--config-file=" + config.string();
    char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>(configArg.c_str()),
                    const_cast<char*>("--nofork"), const_cast<char*>("--print-address"), nullptr};
    const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
      pid_ = -1;
      ::close(out[0]);
      return;
    }
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
    ::close(out[0]);
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

// Answers OpenFile on the bus as the desktop portal does: a reply with the
// request's object path, then its Response signal.
class FakePortal {
 public:
  static constexpr uint32_t kRefuse = 99;  // answer OpenFile with an error
  FakePortal(const std::string& address, uint32_t response, std::string uri)
      : response_(response), uri_(std::move(uri)) {
    DBusError error;
    dbus_error_init(&error);
    connection_ = dbus_connection_open_private(address.c_str(), &error);
    if (connection_ && dbus_bus_register(connection_, &error)) {
      owned_ = dbus_bus_request_name(connection_, "org.freedesktop.portal.Desktop", DBUS_NAME_FLAG_DO_NOT_QUEUE,
                                     &error) == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER;
    }
    dbus_error_free(&error);
    if (owned_) thread_ = std::thread([this] { Serve(); });
  }
  ~FakePortal() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (connection_) {
      dbus_connection_close(connection_);
      dbus_connection_unref(connection_);
    }
  }
  bool ready() const { return owned_; }
  int requests() const { return requests_; }
  std::map<std::string, std::string> lastRequest() {
    std::lock_guard lock(mutex_);
    return last_;
  }

 private:
  void Serve() {
    while (!stop_ && dbus_connection_read_write(connection_, 20)) {
      while (DBusMessage* message = dbus_connection_pop_message(connection_)) {
        if (dbus_message_is_method_call(message, "org.freedesktop.portal.FileChooser", "OpenFile")) {
          Answer(message);
        }
        dbus_message_unref(message);
      }
    }
  }

  void Answer(DBusMessage* call) {
    std::map<std::string, std::string> request;
    DBusMessageIter args, dict;
    dbus_message_iter_init(call, &args);
    const char* text = nullptr;
    dbus_message_iter_get_basic(&args, &text);
    request["parent"] = text;
    dbus_message_iter_next(&args);
    dbus_message_iter_get_basic(&args, &text);
    request["title"] = text;
    dbus_message_iter_next(&args);
    for (dbus_message_iter_recurse(&args, &dict); dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
         dbus_message_iter_next(&dict)) {
      DBusMessageIter entry, variant;
      dbus_message_iter_recurse(&dict, &entry);
      const char* key = nullptr;
      dbus_message_iter_get_basic(&entry, &key);
      dbus_message_iter_next(&entry);
      dbus_message_iter_recurse(&entry, &variant);
      if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_STRING) {
        dbus_message_iter_get_basic(&variant, &text);
        request[key] = text;
      } else if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_BOOLEAN) {
        dbus_bool_t b = FALSE;
        dbus_message_iter_get_basic(&variant, &b);
        request[key] = b ? "true" : "false";
      }
    }
    std::string sender = dbus_message_get_sender(call) + 1;
    for (char& c : sender) {
      if (c == '.') c = '_';
    }
    const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + request["handle_token"];
    {
      std::lock_guard lock(mutex_);
      last_ = request;
    }
    ++requests_;
    if (response_ == kRefuse) {
      DBusMessage* error = dbus_message_new_error(call, DBUS_ERROR_UNKNOWN_METHOD, "no file chooser backend");
      dbus_connection_send(connection_, error, nullptr);
      dbus_message_unref(error);
      dbus_connection_flush(connection_);
      return;
    }

    DBusMessage* reply = dbus_message_new_method_return(call);
    const char* handle = path.c_str();
    dbus_message_append_args(reply, DBUS_TYPE_OBJECT_PATH, &handle, DBUS_TYPE_INVALID);
    dbus_connection_send(connection_, reply, nullptr);
    dbus_message_unref(reply);

    DBusMessage* signal = dbus_message_new_signal(path.c_str(), "org.freedesktop.portal.Request", "Response");
    DBusMessageIter out, results, entry, variant, uris;
    dbus_message_iter_init_append(signal, &out);
    dbus_message_iter_append_basic(&out, DBUS_TYPE_UINT32, &response_);
    dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "{sv}", &results);
    if (response_ == 0) {
      const char* key = "uris";
      const char* uri = uri_.c_str();
      dbus_message_iter_open_container(&results, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
      dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
      dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "as", &variant);
      dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "s", &uris);
      dbus_message_iter_append_basic(&uris, DBUS_TYPE_STRING, &uri);
      dbus_message_iter_close_container(&variant, &uris);
      dbus_message_iter_close_container(&entry, &variant);
      dbus_message_iter_close_container(&results, &entry);
    }
    dbus_message_iter_close_container(&out, &results);
    dbus_connection_send(connection_, signal, nullptr);
    dbus_message_unref(signal);
    dbus_connection_flush(connection_);
  }

  DBusConnection* connection_ = nullptr;
  bool owned_ = false;
  uint32_t response_;
  std::string uri_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::mutex mutex_;
  std::map<std::string, std::string> last_;
  std::thread thread_;
};

class FolderPickerPortal : public FolderPicker {
 protected:
  void SetUp() override {
    FolderPicker::SetUp();
    bus_ = std::make_unique<PrivateBus>(dir_ / "runtime");
    if (bus_->address().empty()) GTEST_SKIP() << "dbus-daemon is not installed";
    busEnv_.emplace_back("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str());
  }
  void TearDown() override {
    busEnv_.clear();
    bus_.reset();
    FolderPicker::TearDown();
  }
  std::unique_ptr<PrivateBus> bus_;
  std::deque<ScopedEnv> busEnv_;
};

TEST_F(FolderPickerPortal, PortalChoosesADirectory) {
  InstallZenity("/tmp/zenity");
  FakePortal portal(bus_->address(), 0, "file:///home/user/My%20Videos");
  ASSERT_TRUE(portal.ready());
  int idles = 0;
  EXPECT_EQ(ChooseFolder("Selection", [&] { ++idles; }), std::optional<std::string>("/home/user/My Videos"));
  EXPECT_EQ(portal.requests(), 1);
  auto request = portal.lastRequest();
  EXPECT_EQ(request["title"], "Selection");
  EXPECT_EQ(request["directory"], "true");
  EXPECT_FALSE(request["handle_token"].empty());
  EXPECT_FALSE(ZenityRan());
}

TEST_F(FolderPickerPortal, PortalCancelIsFinal) {
  InstallZenity("/tmp/zenity");
  FakePortal portal(bus_->address(), 1, "");
  ASSERT_TRUE(portal.ready());
  EXPECT_EQ(ChooseFolder("Selection"), std::nullopt);
  EXPECT_EQ(portal.requests(), 1);
  EXPECT_FALSE(ZenityRan());  // the user answered; no second dialog
}

TEST_F(FolderPickerPortal, RefusingPortalFallsBackToZenity) {
  InstallZenity("/srv/fallback");
  FakePortal portal(bus_->address(), FakePortal::kRefuse, "");
  ASSERT_TRUE(portal.ready());
  EXPECT_EQ(ChooseFolder("Selection"), std::optional<std::string>("/srv/fallback"));
  EXPECT_EQ(portal.requests(), 1);
  EXPECT_TRUE(ZenityRan());
}

TEST_F(FolderPickerPortal, BusWithoutPortalFallsBackToZenity) {
  InstallZenity("/srv/fallback");
  EXPECT_EQ(ChooseFolder("Selection"), std::optional<std::string>("/srv/fallback"));
  EXPECT_TRUE(ZenityRan());
}

TEST_F(FolderPickerPortal, BusAtTheRuntimeFolderIsFound) {
  // Without DBUS_SESSION_BUS_ADDRESS the bus at $XDG_RUNTIME_DIR/bus is used.
  const std::string address = bus_->address();
  const std::string prefix = "unix:path=";
  const size_t at = address.find(prefix);
  ASSERT_NE(at, std::string::npos) << address;
  std::string socket = address.substr(at + prefix.size());
  socket = socket.substr(0, socket.find(','));
  fs::create_directory(dir_ / "runtime2");
  fs::create_symlink(socket, dir_ / "runtime2" / "bus");
  ScopedEnv noAddress("DBUS_SESSION_BUS_ADDRESS", nullptr);
  ScopedEnv runtime("XDG_RUNTIME_DIR", (dir_ / "runtime2").c_str());
  FakePortal portal(address, 0, "file:///srv/found");
  ASSERT_TRUE(portal.ready());
  EXPECT_EQ(ChooseFolder("Selection"), std::optional<std::string>("/srv/found"));
}

}  // namespace
}  // namespace lumvara::folder_picker
