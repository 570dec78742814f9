// The control's settings file: where it lives, what window creation reads,
// and the two commands that write it.
#include "control/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/folder_picker/folder_picker.h"
#include "platform/ini/ini_file.h"

namespace lumvara::control {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Writes one key, creating the settings folder first when it is missing. A
// failure is not reported: the caller's members keep the new value.
void WriteSetting(const std::string& iniFile, const char* key, const std::string& value) {
  if (iniFile.empty()) return;
  const std::filesystem::path folder = std::filesystem::path(iniFile).parent_path();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  ini::WritePrivateProfileString(kSettingsSection, key, value, iniFile);
}

void WriteSetting(const std::string& iniFile, const char* key, int32_t value) {
  WriteSetting(iniFile, key, std::to_string(value));  // the same text "%d" gives
}

int32_t AtLeast(int32_t value, int32_t lower) { return value > lower ? value : lower; }

}  // namespace

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (home.empty()) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
      home = found->pw_dir;
    }
  }
  return WithoutTrailingSlashes(home);
}

std::string SettingsFilePath() {
  if (std::string file = Env("LUMVARA_INI"); !file.empty()) return file;
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') {  // relative values are to be ignored
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return WithoutTrailingSlashes(config) + "/lumvara/Lumvara.ini";
}

SettingsAtCreation ReadSettingsAtCreation(const std::string& iniFile, const SettingStore& store) {
  SettingsAtCreation read;
  read.recFilePath = ini::GetPrivateProfileString(kSettingsSection, kKeyRecordingFolder, "", iniFile);
  if (read.recFilePath.empty()) {
    read.recFilePath = HomeFolder();
    WriteSetting(iniFile, kKeyRecordingFolder, read.recFilePath);
  }
  store(dispid::kRecFilePath, DispatchValue::String(read.recFilePath));

  const struct {
    const char* key;
    int32_t fallback;
    int dispid;
    int32_t* into;
  } limits[] = {
      {kKeyFileLen, kDefaultFileLenMB, dispid::kRecFileLen, &read.limits.fileLen},
      {kKeyTimeLen, kDefaultTimeLenMinutes, dispid::kRecTimeLen, &read.limits.timeLen},
      {kKeyReservedSpace, kDefaultReservedSpaceMB, dispid::kReservedSpace, &read.limits.reservedSpace},
      {kKeyCover, kDefaultCover, dispid::kRecCover, &read.limits.cover},
  };
  for (const auto& limit : limits) {
    *limit.into = ini::GetPrivateProfileInt(kSettingsSection, limit.key, limit.fallback, iniFile);
    store(limit.dispid, DispatchValue::Long(*limit.into));
  }
  return read;
}

std::string ReadRecordingFolder(const std::string& iniFile) {
  return ini::GetPrivateProfileString(kSettingsSection, kKeyRecordingFolder, "", iniFile);
}

RecordLimits ApplyRecordProperty(const std::string& iniFile, RecordLimits requested, const SettingStore& store) {
  const RecordLimits stored{
      AtLeast(requested.fileLen, kDefaultFileLenMB),
      AtLeast(requested.timeLen, kDefaultTimeLenMinutes),
      AtLeast(requested.reservedSpace, kDefaultReservedSpaceMB),
      requested.cover,
  };
  const struct {
    int dispid;
    const char* key;
    int32_t value;
  } steps[] = {
      {dispid::kRecFileLen, kKeyFileLen, stored.fileLen},
      {dispid::kRecTimeLen, kKeyTimeLen, stored.timeLen},
      {dispid::kReservedSpace, kKeyReservedSpace, stored.reservedSpace},
      {dispid::kRecCover, kKeyCover, stored.cover},
  };
  for (const auto& step : steps) {
    store(step.dispid, DispatchValue::Long(step.value));
    WriteSetting(iniFile, step.key, step.value);
  }
  return stored;
}

bool ChooseRecordingFolder(const std::string& iniFile, const SettingStore& store, const std::function<void()>& idle) {
  const std::optional<std::string> chosen = folder_picker::ChooseFolder(kFolderChooserTitle, idle);
  if (!chosen || chosen->empty()) return false;
  store(dispid::kRecFilePath, DispatchValue::String(*chosen));
  WriteSetting(iniFile, kKeyRecordingFolder, *chosen);
  return true;
}

}  // namespace lumvara::control
