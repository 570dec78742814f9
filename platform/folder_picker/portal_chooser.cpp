// The desktop portal's file chooser, asked over the session bus for one
// directory.
#include <dbus/dbus.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/folder_picker/choosers.h"
#include "platform/log/log.h"

namespace lumvara::folder_picker {

namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kFileChooser[] = "org.freedesktop.portal.FileChooser";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr int kQueryTimeoutMs = 1000;  // bus daemon questions
constexpr int kOpenTimeoutMs = 5000;   // the portal may be started for this call
constexpr int kPollMs = 50;            // between idle calls while the dialog is up

// 0 = chosen, 1 = cancelled by the user, 2 = ended another way.
constexpr uint32_t kResponseChosen = 0;

struct ConnectionCloser {
  void operator()(DBusConnection* c) const {
    dbus_connection_close(c);
    dbus_connection_unref(c);
  }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
  void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

class Error {
 public:
  Error() { dbus_error_init(&error_); }
  ~Error() { dbus_error_free(&error_); }
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  DBusError* get() { return &error_; }
  bool set() const { return dbus_error_is_set(&error_); }
  const char* message() const { return error_.message ? error_.message : ""; }

 private:
  DBusError error_;
};

// The session bus address, without ever letting libdbus start a bus of its
// own (its autolaunch would run a program).
std::string SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + socket;
  }
  return {};
}

Connection Connect() {
  const std::string address = SessionBusAddress();
  if (address.empty()) return nullptr;
  dbus_threads_init_default();
  Error error;
  DBusConnection* raw = dbus_connection_open_private(address.c_str(), error.get());
  if (!raw) return nullptr;
  Connection connection(raw);
  dbus_connection_set_exit_on_disconnect(raw, FALSE);
  if (!dbus_bus_register(raw, error.get())) return nullptr;
  return connection;
}

Message CallBus(DBusConnection* connection, const char* method, const char* name) {
  Message call(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, method));
  if (!call) return nullptr;
  if (name && !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) return nullptr;
  Error error;
  return Message(dbus_connection_send_with_reply_and_block(connection, call.get(), kQueryTimeoutMs, error.get()));
}

// True when the portal runs or the bus can start it.
bool PortalPresent(DBusConnection* connection) {
  if (Message reply = CallBus(connection, "NameHasOwner", kPortalName)) {
    dbus_bool_t owned = FALSE;
    Error error;
    if (dbus_message_get_args(reply.get(), error.get(), DBUS_TYPE_BOOLEAN, &owned, DBUS_TYPE_INVALID) && owned) {
      return true;
    }
  }
  Message reply = CallBus(connection, "ListActivatableNames", nullptr);
  if (!reply) return false;
  char** names = nullptr;
  int count = 0;
  Error error;
  if (!dbus_message_get_args(reply.get(), error.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &names, &count,
                             DBUS_TYPE_INVALID)) {
    return false;
  }
  bool found = false;
  for (int i = 0; i < count; ++i) found = found || std::string(names[i]) == kPortalName;
  dbus_free_string_array(names);
  return found;
}

// The object path the portal gives the request for `token`.
std::string RequestPath(DBusConnection* connection, const std::string& token) {
  std::string sender = dbus_bus_get_unique_name(connection);
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

bool AddResponseMatch(DBusConnection* connection, const std::string& path) {
  const std::string rule =
      std::string("type='signal',interface='") + kRequest + "',member='Response',path='" + path + "'";
  Error error;
  dbus_bus_add_match(connection, rule.c_str(), error.get());
  return !error.set();
}

// Tells when the portal leaves the bus, so a dialog that died does not hold
// the caller for ever.
bool AddPortalGoneMatch(DBusConnection* connection) {
  const std::string rule = std::string("type='signal',sender='") + DBUS_SERVICE_DBUS + "',interface='" +
                           DBUS_INTERFACE_DBUS + "',member='NameOwnerChanged',arg0='" + kPortalName + "'";
  Error error;
  dbus_bus_add_match(connection, rule.c_str(), error.get());
  return !error.set();
}

bool PortalLeft(DBusMessage* message) {
  if (!dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged")) return false;
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  Error error;
  return dbus_message_get_args(message, error.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner,
                               DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID) &&
         std::string(name) == kPortalName && *newOwner == '\0';
}

void AppendOption(DBusMessageIter* dict, const char* key, int type, const char* signature, const void* value) {
  DBusMessageIter entry, variant;
  dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
  dbus_message_iter_append_basic(&variant, type, value);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(dict, &entry);
}

Message OpenFileCall(const std::string& title, const std::string& token) {
  Message call(dbus_message_new_method_call(kPortalName, kPortalPath, kFileChooser, "OpenFile"));
  if (!call) return nullptr;
  const char* parent = "";
  const char* titleText = title.c_str();
  const char* tokenText = token.c_str();
  const dbus_bool_t yes = TRUE;
  DBusMessageIter args, dict;
  dbus_message_iter_init_append(call.get(), &args);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &titleText);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &dict);
  AppendOption(&dict, "handle_token", DBUS_TYPE_STRING, "s", &tokenText);
  AppendOption(&dict, "directory", DBUS_TYPE_BOOLEAN, "b", &yes);
  AppendOption(&dict, "modal", DBUS_TYPE_BOOLEAN, "b", &yes);
  dbus_message_iter_close_container(&args, &dict);
  return call;
}

// The first URI of a Response's results, if any.
std::optional<std::string> FirstUri(DBusMessageIter* results) {
  if (dbus_message_iter_get_arg_type(results) != DBUS_TYPE_ARRAY) return std::nullopt;
  DBusMessageIter dict;
  for (dbus_message_iter_recurse(results, &dict); dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&dict)) {
    DBusMessageIter entry, variant, uris;
    dbus_message_iter_recurse(&dict, &entry);
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
    const char* key = nullptr;
    dbus_message_iter_get_basic(&entry, &key);
    if (std::string(key) != "uris" || !dbus_message_iter_next(&entry)) continue;
    dbus_message_iter_recurse(&entry, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_ARRAY) return std::nullopt;
    dbus_message_iter_recurse(&variant, &uris);
    if (dbus_message_iter_get_arg_type(&uris) != DBUS_TYPE_STRING) return std::nullopt;
    const char* uri = nullptr;
    dbus_message_iter_get_basic(&uris, &uri);
    return std::string(uri);
  }
  return std::nullopt;
}

std::optional<std::string> ParseResponse(DBusMessage* signal) {
  DBusMessageIter args;
  if (!dbus_message_iter_init(signal, &args) || dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_UINT32) {
    return std::nullopt;
  }
  uint32_t response = 0;
  dbus_message_iter_get_basic(&args, &response);
  if (response != kResponseChosen || !dbus_message_iter_next(&args)) return std::nullopt;
  const std::optional<std::string> uri = FirstUri(&args);
  return uri ? PathFromFileUri(*uri) : std::nullopt;
}

std::string NextToken() {
  static std::atomic<unsigned> counter{0};
  return "lumvara" + std::to_string(::getpid()) + "_" + std::to_string(counter.fetch_add(1) + 1);
}

}  // namespace

Choice ChooseWithPortal(std::string_view title, const std::function<void()>& idle) {
  Connection connection = Connect();
  if (!connection || !PortalPresent(connection.get())) return {};
  DBusConnection* c = connection.get();

  // Subscribe before asking, so a quick answer is not missed.
  const std::string token = NextToken();
  std::string path = RequestPath(c, token);
  if (!AddResponseMatch(c, path) || !AddPortalGoneMatch(c)) return {};
  Message call = OpenFileCall(std::string(title), token);
  if (!call) return {};
  Error error;
  Message reply(dbus_connection_send_with_reply_and_block(c, call.get(), kOpenTimeoutMs, error.get()));
  if (!reply) {
    logf("folder chooser: the desktop portal refused: %s\n", error.message());
    return {};
  }
  const char* handle = nullptr;
  if (dbus_message_get_args(reply.get(), error.get(), DBUS_TYPE_OBJECT_PATH, &handle, DBUS_TYPE_INVALID) &&
      path != handle) {
    path = handle;  // an older portal names the request itself
    if (!AddResponseMatch(c, path)) return {};
  }

  Choice answered{Outcome::kAnswered, std::nullopt};
  while (dbus_connection_read_write(c, kPollMs)) {
    while (Message message{dbus_connection_pop_message(c)}) {
      if (dbus_message_is_signal(message.get(), kRequest, "Response") &&
          dbus_message_has_path(message.get(), path.c_str())) {
        answered.path = ParseResponse(message.get());
        return answered;
      }
      if (PortalLeft(message.get())) return answered;
    }
    if (idle) idle();
  }
  return answered;  // the bus went away: nothing was chosen
}

std::optional<std::string> PathFromFileUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (!uri.starts_with(kScheme)) return std::nullopt;
  uri.remove_prefix(kScheme.size());
  if (uri.starts_with("localhost/")) uri.remove_prefix(9);
  if (!uri.starts_with("/")) return std::nullopt;  // another host's file
  auto hex = [](char h) -> int {
    if (h >= '0' && h <= '9') return h - '0';
    if (h >= 'a' && h <= 'f') return h - 'a' + 10;
    if (h >= 'A' && h <= 'F') return h - 'A' + 10;
    return -1;
  };
  std::string path;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && hex(uri[i + 1]) >= 0 && hex(uri[i + 2]) >= 0) {
      const char byte = static_cast<char>(hex(uri[i + 1]) * 16 + hex(uri[i + 2]));
      if (byte == '\0') return std::nullopt;
      path += byte;
      i += 2;
    } else {
      path += uri[i];
    }
  }
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace lumvara::folder_picker
