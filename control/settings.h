#pragma once
// The control's settings file: the recording folder and the four recording
// limits, section "PATH" of Lumvara.ini.
//
// The file is $LUMVARA_INI when that is set, else
// $XDG_CONFIG_HOME/lumvara/Lumvara.ini (XDG_CONFIG_HOME defaulting to
// ~/.config). The default recording folder is the user's home folder. The
// control holds the values in its property members; these functions read and
// write the file and hand each value to a store callback in the order the
// control must set its members, so the control's store is its own property
// write (member, then change handler).

#include <cstdint>
#include <functional>
#include <string>

#include "control/dispatch/dispatcher.h"

namespace lumvara::control {

inline constexpr char kSettingsSection[] = "PATH";
inline constexpr char kKeyRecordingFolder[] = "SETPATH";
inline constexpr char kKeyFileLen[] = "FILELEN";
inline constexpr char kKeyTimeLen[] = "TIMELEN";
inline constexpr char kKeyReservedSpace[] = "RESERVEDSPACE";
inline constexpr char kKeyCover[] = "COVER";
inline constexpr char kFolderChooserTitle[] = "Selection";

// Defaults of the limits when the file has no value, which are also the
// lower limits SetRecordProperty applies.
inline constexpr int32_t kDefaultFileLenMB = 100;
inline constexpr int32_t kDefaultTimeLenMinutes = 5;
inline constexpr int32_t kDefaultReservedSpaceMB = 200;
inline constexpr int32_t kDefaultCover = 0;

struct RecordLimits {
  int32_t fileLen = kDefaultFileLenMB;
  int32_t timeLen = kDefaultTimeLenMinutes;
  int32_t reservedSpace = kDefaultReservedSpaceMB;
  int32_t cover = kDefaultCover;
};

// Gets one value for a property member: `propertyDispid` is one of
// dispid::kRecFilePath (a string), kRecFileLen, kRecTimeLen, kReservedSpace,
// kRecCover (longs).
using SettingStore = std::function<void(int propertyDispid, const DispatchValue& value)>;

// The settings file's full path (see above). Empty only when neither
// LUMVARA_INI, XDG_CONFIG_HOME nor a home folder is known.
std::string SettingsFilePath();

// The user's home folder ($HOME, else the password database); empty when
// unknown.
std::string HomeFolder();

// The window creation step: reads SETPATH (an empty or missing value is
// replaced by the home folder, which is written back, creating the file and
// its folder), then FILELEN, TIMELEN, RESERVEDSPACE and COVER as they are,
// handing each to `store` in that order. Returns what it read.
struct SettingsAtCreation {
  std::string recFilePath;
  RecordLimits limits;
};
SettingsAtCreation ReadSettingsAtCreation(const std::string& iniFile, const SettingStore& store);

// The recording folder as the file holds it now (SETPATH, default empty);
// read afresh by each snapshot and recording.
std::string ReadRecordingFolder(const std::string& iniFile);

// SetRecordProperty: each limit raised to its lower limit (the cover flag
// unchanged), stored and then written, in the order FILELEN, TIMELEN,
// RESERVEDSPACE, COVER. A failed write is not reported; the stored values
// stand. Returns the values stored.
RecordLimits ApplyRecordProperty(const std::string& iniFile, RecordLimits requested, const SettingStore& store);

// SetPath: shows the folder chooser titled "Selection"; when the user picks
// a folder it is stored (kRecFilePath) and then written as SETPATH. A cancel
// changes nothing. True when a folder was chosen. `idle` as for
// folder_picker::ChooseFolder.
bool ChooseRecordingFolder(const std::string& iniFile, const SettingStore& store,
                           const std::function<void()>& idle = {});

}  // namespace lumvara::control
