// The settings-file reader: the input is the whole file, as a user or
// another program may have left it. Every setting is read, then one is
// written and read back: the written value must come back and every other
// value must read as before.
//
// Input: one byte choosing the setting to write and how, then the file.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/ini/ini_file.h"

namespace {

namespace ini = lumvara::ini;

// The control's section and keys, and one other section a file may hold.
constexpr std::array<const char*, 2> kSections = {"PATH", "Other"};
constexpr std::array<const char*, 5> kKeys = {"SETPATH", "FILELEN", "TIMELEN", "RESERVEDSPACE", "COVER"};
// A key is missing when a read returns each of two different defaults: a
// file can hold one of them as a value (the fuzzer learns it from the
// comparison), never both at once.
constexpr char kMissing[] = "\x01missing";
constexpr char kMissingToo[] = "\x02missing";

struct Folder {
  std::string path;
  std::string file;
  Folder() {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/lumvara-ini-XXXXXX");
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    path = pattern;
    file = path + "/Lumvara.ini";
  }
  ~Folder() {
    ::unlink(file.c_str());
    ::rmdir(path.c_str());
  }
  size_t entries() const {
    size_t count = 0;
    if (DIR* dir = ::opendir(path.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.' || (entry->d_name[1] != '\0' && entry->d_name[1] != '.')) ++count;
      }
      ::closedir(dir);
    }
    return count;
  }
};

using Values = std::array<std::array<std::string, kKeys.size()>, kSections.size()>;

Values readAll(const std::string& file) {
  Values values;
  for (size_t s = 0; s < kSections.size(); ++s) {
    for (size_t k = 0; k < kKeys.size(); ++k) {
      values[s][k] = ini::GetPrivateProfileString(kSections[s], kKeys[k], kMissing, file);
      const bool missing = values[s][k] == kMissing &&
                           ini::GetPrivateProfileString(kSections[s], kKeys[k], kMissingToo, file) == kMissingToo;
      // A missing key reads as the default for integers too.
      if (missing) {
        FUZZ_CHECK(ini::GetPrivateProfileInt(kSections[s], kKeys[k], -77, file) == -77);
      } else {
        ini::GetPrivateProfileInt(kSections[s], kKeys[k], -77, file);
      }
    }
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static Folder folder;
  {
    const int fd = ::open(folder.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data + 1, size - 1) == static_cast<ssize_t>(size - 1));
    ::close(fd);
  }
  const Values before = readAll(folder.file);

  const size_t section = (data[0] >> 3) % kSections.size();
  const size_t key = data[0] % kKeys.size();
  const bool asInt = (data[0] & 0x80) != 0;
  const int32_t number = static_cast<int32_t>(size * 7919) - 40000;
  const std::string text = asInt ? std::to_string(number) : "folder/" + std::to_string(size);
  const bool written = asInt ? ini::WritePrivateProfileInt(kSections[section], kKeys[key], number, folder.file)
                             : ini::WritePrivateProfileString(kSections[section], kKeys[key], text, folder.file);
  FUZZ_CHECK(written);
  // The temporary file is gone: only the settings file is left.
  FUZZ_CHECK(folder.entries() == 1);

  const Values after = readAll(folder.file);
  for (size_t s = 0; s < kSections.size(); ++s) {
    for (size_t k = 0; k < kKeys.size(); ++k) {
      if (s == section && k == key) {
        FUZZ_CHECK(after[s][k] == text);
      } else {
        FUZZ_CHECK(after[s][k] == before[s][k]);
      }
    }
  }
  if (asInt) FUZZ_CHECK(ini::GetPrivateProfileInt(kSections[section], kKeys[key], 0, folder.file) == number);
  return 0;
}
