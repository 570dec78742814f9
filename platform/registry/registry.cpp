#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lumvara::registry {

namespace {

constexpr char kHeader[] =
    "; Lumvara registry: [key] lines open a key, name=value lines set its values,\n"
    "; @ is the default value. Written whole by the registration calls.\n";

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string ParentOf(const std::string& key) {
  const auto slash = key.rfind('/');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Escape(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        *out += '\\';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

bool ValidKey(const std::string& key) {
  if (key.empty() || key.front() == '/' || key.back() == '/') return false;
  if (key.find("//") != std::string::npos) return false;
  return key.find_first_of("\n\r[]") == std::string::npos;
}

// Creates every missing folder of `folder` (mode 0700: the registry is the user's).
bool MakeFolders(const std::string& folder, int* error) {
  std::string partial;
  size_t start = 0;
  while (start <= folder.size()) {
    const auto slash = folder.find('/', start);
    const auto end = slash == std::string::npos ? folder.size() : slash;
    partial = folder.substr(0, end);
    if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = errno;
      return false;
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string RegistryPath() {
  const std::string override_path = Getenv("LUMVARA_REGISTRY");
  if (!override_path.empty()) return override_path;
  const std::string data = Getenv("XDG_DATA_HOME");
  if (!data.empty() && data.front() == '/') return data + "/lumvara/registry";
  const std::string home = Getenv("HOME");
  if (!home.empty()) return home + "/.local/share/lumvara/registry";
  return "";
}

std::string KeyPath(std::initializer_list<std::string> parts) {
  std::string key;
  for (const auto& part : parts) {
    if (!key.empty()) key += '/';
    key += part;
  }
  return key;
}

bool Registry::HasKey(const std::string& key) const { return keys_.count(key) != 0; }

void Registry::CreateKey(const std::string& key) {
  for (std::string k = key; !k.empty() && !keys_.count(k); k = ParentOf(k)) keys_[k];
}

void Registry::SetValue(const std::string& key, const std::string& name, const std::string& value) {
  CreateKey(key);
  keys_[key][name] = value;
}

std::optional<std::string> Registry::GetValue(const std::string& key, const std::string& name) const {
  const auto k = keys_.find(key);
  if (k == keys_.end()) return std::nullopt;
  const auto v = k->second.find(name);
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool Registry::DeleteKey(const std::string& key) {
  const auto k = keys_.find(key);
  if (k == keys_.end()) return false;
  // Subkeys sort right after their parent: "key/" is a prefix of each.
  const std::string prefix = key + '/';
  auto end = std::next(k);
  while (end != keys_.end() && end->first.compare(0, prefix.size(), prefix) == 0) ++end;
  keys_.erase(k, end);
  return true;
}

std::vector<std::string> Registry::SubKeys(const std::string& key) const {
  std::vector<std::string> names;
  const std::string prefix = key + '/';
  for (auto it = keys_.lower_bound(prefix); it != keys_.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    const std::string rest = it->first.substr(prefix.size());
    if (rest.find('/') == std::string::npos) names.push_back(rest);
  }
  return names;
}

std::string Registry::Serialize() const {
  std::string text = kHeader;
  for (const auto& [key, values] : keys_) {
    text += '[' + key + "]\n";
    for (const auto& [name, value] : values) {
      text += (name.empty() ? std::string("@") : name) + '=' + Escape(value) + '\n';
    }
  }
  return text;
}

bool Registry::Parse(const std::string& text) {
  keys_.clear();
  std::string current;
  size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return keys_.clear(), false;
      current = line.substr(1, line.size() - 2);
      if (!ValidKey(current)) return keys_.clear(), false;
      CreateKey(current);
      continue;
    }
    const auto eq = line.find('=');
    if (current.empty() || eq == std::string::npos || eq == 0) return keys_.clear(), false;
    std::string name = line.substr(0, eq);
    if (name == "@") name.clear();
    std::string value;
    if (!Unescape(line.substr(eq + 1), &value)) return keys_.clear(), false;
    keys_[current][name] = value;
  }
  return true;
}

bool Registry::Load(const std::string& path, int* error) {
  int ignored = 0;
  if (!error) error = &ignored;
  keys_.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *error = errno;
    return false;
  }
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (!Parse(text)) {
    *error = EINVAL;
    return false;
  }
  return true;
}

bool Registry::Save(const std::string& path, int* error) const {
  int ignored = 0;
  if (!error) error = &ignored;
  if (path.empty()) {
    *error = ENOENT;
    return false;
  }
  return MakeFolders(FolderOf(path), error) && WriteFileAtomically(path, Serialize(), error);
}

bool WriteFileAtomically(const std::string& path, const std::string& text, int* error) {
  int ignored = 0;
  if (!error) error = &ignored;
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = errno;
    return false;
  }
  const bool written = WriteAll(fd, text) && fsync(fd) == 0;
  const int write_error = errno;
  if (close(fd) != 0 || !written) {
    *error = written ? errno : write_error;
    unlink(temp.c_str());
    return false;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    *error = errno;
    unlink(temp.c_str());
    return false;
  }
  return true;
}

bool Update(const std::string& path, const std::function<bool(Registry&)>& change, int* error) {
  int ignored = 0;
  if (!error) error = &ignored;
  if (path.empty()) {
    *error = ENOENT;
    return false;
  }
  if (!MakeFolders(FolderOf(path), error)) return false;
  const std::string lock_path = path + ".lock";
  const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) {
    *error = errno;
    return false;
  }
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      *error = errno;
      close(lock);
      return false;
    }
  }
  Registry registry;
  bool ok = registry.Load(path, error);
  if (ok && change(registry)) ok = registry.Save(path, error);
  close(lock);  // releases the flock
  return ok;
}

}  // namespace lumvara::registry
