#pragma once
// The control's scripting surface as one table: every method and property of
// _DLumvara and every event of _DLumvaraEvents with its DISPID, parameter
// names and types, result type and help text. Name lookup, invocation, event
// firing and the generated type library all read this table and nothing
// else, so a member exists everywhere or nowhere.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include <lumvara/control.h>

namespace lumvara::control {

// DISPIDs of _DLumvara (methods and properties share one numbering).
namespace dispid {
inline constexpr int kPlayVideo = 1;
inline constexpr int kStopVideo = 2;
inline constexpr int kSetFocus = 3;
inline constexpr int kShowMax = 4;
inline constexpr int kShowNormal = 5;
inline constexpr int kSoundState = 6;
inline constexpr int kTalkState = 7;
inline constexpr int kRecordState = 8;
inline constexpr int kCapturePic = 9;
inline constexpr int kOpenSound = 10;
inline constexpr int kCloseSound = 11;
inline constexpr int kStartTalk = 12;
inline constexpr int kStopTalk = 13;
inline constexpr int kStartRecord = 14;
inline constexpr int kStopRecord = 15;
inline constexpr int kSetPath = 16;
inline constexpr int kVideoState = 17;
inline constexpr int kRecFilePath = 18;
inline constexpr int kOnSearchCameras = 19;
inline constexpr int kSetFlip = 20;
inline constexpr int kSetOsd = 21;
inline constexpr int kRemoveOsd = 22;
inline constexpr int kUpdataSize = 23;
inline constexpr int kRecFileLen = 24;
inline constexpr int kRecTimeLen = 25;
inline constexpr int kReservedSpace = 26;
inline constexpr int kRecCover = 27;
inline constexpr int kSetRecordProperty = 28;
inline constexpr int kSdRecordFilePlay = 29;
inline constexpr int kSdRecordFileStop = 30;
inline constexpr int kSdRecordFileSetPos = 31;
inline constexpr int kSetAlias = 32;
inline constexpr int kGetVersion = 33;
}  // namespace dispid

// DISPIDs of _DLumvaraEvents (a numbering of their own).
namespace event_dispid {
inline constexpr int kMessageNotify = 1;
inline constexpr int kOnCameraSearched = 2;
}  // namespace event_dispid

// Types a parameter, a result or a property can have.
enum class VarType : int32_t {
  kEmpty = LUMVARA_VT_EMPTY,  // results only: the method returns nothing
  kI4 = LUMVARA_VT_I4,        // 32-bit signed integer ("long")
  kBstr = LUMVARA_VT_BSTR,    // UTF-8 text ("string")
};

enum class MemberKind { kMethod, kProperty, kEvent };

// Longest texts the control keeps from a string argument, in bytes of UTF-8
// without the terminating NUL: each fills a zeroed fixed field of one byte
// more. A longer text is cut at a character boundary at or below the limit.
inline constexpr size_t kConnectionFieldText = 63;  // user, password, host: 64-byte fields
inline constexpr size_t kOsdText = 127;             // on-screen text: the entry's 128-byte field
inline constexpr size_t kAliasText = 63;            // camera alias: 64 bytes with its NUL
inline constexpr size_t kFileNameText = 511;        // SD-card file name: a 512-byte buffer
inline constexpr size_t kUnboundedText = 0;         // kept whole

struct ParamInfo {
  const char* name;
  VarType type;
  // For kBstr: the longest text kept (the constants above); 0 for kI4.
  size_t maxBytes;
};

struct MemberInfo {
  int dispid;
  const char* name;
  MemberKind kind;
  // Methods: the result type (kEmpty for none). Properties: the value type.
  // Events: kEmpty.
  VarType type;
  std::span<const ParamInfo> params;  // methods and events; empty for properties
  const char* help;                   // "" when the member has none
  // Properties: the longest text a kBstr value keeps (kUnboundedText).
  size_t maxBytes = 0;
};

// Methods and properties of _DLumvara, in DISPID order.
std::span<const MemberInfo> InterfaceMembers();
// Events of _DLumvaraEvents, in DISPID order.
std::span<const MemberInfo> EventMembers();

// The method or property with this DISPID, or null.
const MemberInfo* FindInterfaceMember(int dispid);
// The event with this DISPID, or null.
const MemberInfo* FindEvent(int dispid);
// The DISPID of the method, property or event called `name`, compared
// without regard to ASCII case; -1 when there is none. Interface members are
// searched before events (their names never coincide).
int LookupDispid(std::string_view name);

}  // namespace lumvara::control
