// Initialisation files read and written line by line, the way the profile
// functions treat them.
#include "platform/ini/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/log/log.h"

namespace lumvara::ini {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Read-modify-write of any file, serialised within the process.
std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

struct IniText {
  bool bom = false;
  std::vector<std::string> lines;  // without line ends
};

std::optional<IniText> Load(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  IniText ini;
  if (text.starts_with(kUtf8Bom)) {
    ini.bom = true;
    text.erase(0, kUtf8Bom.size());
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    // Every carriage return before the line feed belongs to the line end:
    // a value never ends in one, so it reads the same before and after a
    // write rewrites the line ends.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    ini.lines.push_back(std::move(line));
    start = end + 1;
  }
  return ini;
}

std::string_view Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The section a "[name]" line opens, or nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
  const std::string_view t = Trim(line);
  return !t.empty() && t.front() == ';';
}

// Key and value of a "key=value" line.
struct Entry {
  std::string_view key;
  std::string_view value;
};
std::optional<Entry> EntryOf(std::string_view line) {
  if (IsComment(line) || SectionOf(line)) return std::nullopt;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Entry{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

std::optional<std::string> Lookup(const IniText& ini, std::string_view section, std::string_view key) {
  bool inSection = false;
  for (const std::string& line : ini.lines) {
    if (auto name = SectionOf(line)) {
      inSection = EqualNoCase(*name, section);
      continue;
    }
    if (!inSection) continue;
    auto entry = EntryOf(line);
    if (!entry || !EqualNoCase(entry->key, key)) continue;
    std::string_view value = entry->value;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

// Sets the key in the first section of that name, or appends what is missing.
void Put(IniText& ini, const std::string& section, const std::string& key, const std::string& value) {
  const std::string entryLine = key + "=" + value;
  std::optional<size_t> sectionLine;
  std::optional<size_t> lastEntry;
  for (size_t i = 0; i < ini.lines.size(); ++i) {
    if (auto name = SectionOf(ini.lines[i])) {
      if (sectionLine) break;  // the section ended
      if (EqualNoCase(*name, section)) sectionLine = i;
      continue;
    }
    if (!sectionLine) continue;
    auto entry = EntryOf(ini.lines[i]);
    if (!entry) continue;
    if (EqualNoCase(entry->key, key)) {
      ini.lines[i] = entryLine;
      return;
    }
    lastEntry = i;
  }
  if (sectionLine) {
    const size_t at = (lastEntry ? *lastEntry : *sectionLine) + 1;
    ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(at), entryLine);
    return;
  }
  ini.lines.push_back("[" + section + "]");
  ini.lines.push_back(entryLine);
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

std::string FolderOf(const std::string& file) {
  const size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces `file` by `text` through a temporary file and a rename.
bool Store(const std::string& file, const IniText& ini) {
  std::string text = ini.bom ? std::string(kUtf8Bom) : std::string();
  for (const std::string& line : ini.lines) text += line + "\n";

  const size_t slash = file.rfind('/');
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  std::string temp = FolderOf(file) + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  mode_t mode = 0644;
  struct stat existing {};
  if (::stat(file.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

int32_t ParseInt(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    value = value * base + digit;
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    const std::string& file) {
  const std::optional<IniText> ini = Load(file);
  if (!ini) return defaultValue;
  return Lookup(*ini, section, key).value_or(defaultValue);
}

int32_t GetPrivateProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                             const std::string& file) {
  const std::optional<IniText> ini = Load(file);
  if (!ini) return defaultValue;
  const std::optional<std::string> value = Lookup(*ini, section, key);
  return value ? ParseInt(*value) : defaultValue;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file) {
  // A line break would end the entry and start lines of its own.
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
      section.find(']') != std::string::npos || key.find('=') != std::string::npos) {
    return false;
  }
  std::lock_guard lock(WriteMutex());
  std::optional<IniText> loaded = Load(file);
  // A file that exists but cannot be read is left alone rather than replaced
  // by one that holds only this key.
  if (!loaded && ::access(file.c_str(), F_OK) == 0) return false;
  IniText ini = loaded.value_or(IniText{});
  Put(ini, section, key, value);
  if (!Store(file, ini)) {
    logf("settings: cannot write %s: %s\n", file.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool WritePrivateProfileInt(const std::string& section, const std::string& key, int32_t value,
                            const std::string& file) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return WritePrivateProfileString(section, key, text, file);
}

}  // namespace lumvara::ini
