// The member table of _DLumvara and _DLumvaraEvents.
#include "control/dispatch/dispatch_table.h"

#include <algorithm>
#include <array>

namespace lumvara::control {

namespace {

constexpr VarType I4 = VarType::kI4;
constexpr VarType Str = VarType::kBstr;
constexpr VarType None = VarType::kEmpty;

constexpr ParamInfo kPlayVideoParams[] = {
    {"user", Str, kConnectionFieldText},
    {"pwd", Str, kConnectionFieldText},
    {"ip", Str, kConnectionFieldText},
    {"port", I4, 0},
    {"streamid", I4, 0},
    {"audioid", I4, 0},
};
constexpr ParamInfo kSetFocusParams[] = {{"bFocus", I4, 0}};
constexpr ParamInfo kSetFlipParams[] = {{"type", I4, 0}};
constexpr ParamInfo kSetOsdParams[] = {{"osd", Str, kOsdText}};
constexpr ParamInfo kSetRecordPropertyParams[] = {
    {"fileLen", I4, 0}, {"timeLen", I4, 0}, {"reserved", I4, 0}, {"cover", I4, 0}};
constexpr ParamInfo kSdRecordFilePlayParams[] = {
    {"user", Str, kConnectionFieldText},     {"pwd", Str, kConnectionFieldText},
    {"ServerIp", Str, kConnectionFieldText}, {"ServerPort", I4, 0},
    {"FileName", Str, kFileNameText},        {"streamid", I4, 0},
};
constexpr ParamInfo kSdRecordFileSetPosParams[] = {{"pos", I4, 0}};
constexpr ParamInfo kSetAliasParams[] = {{"alias", Str, kAliasText}};

constexpr ParamInfo kMessageNotifyParams[] = {{"lType", I4, 0}, {"lParame", I4, 0}};
constexpr ParamInfo kOnCameraSearchedParams[] = {
    {"iStatus", I4, 0},
    {"pszDevName", Str, kUnboundedText},
    {"pszIpAddr", Str, kUnboundedText},
    {"iPort", I4, 0},
    {"iCmdPort", I4, 0},
    {"iDataPort", I4, 0},
    {"iIsSameSubNet", I4, 0},
};

constexpr MemberInfo Method(int id, const char* name, VarType result, std::span<const ParamInfo> params = {},
                            const char* help = "") {
  return MemberInfo{id, name, MemberKind::kMethod, result, params, help, 0};
}
constexpr MemberInfo Property(int id, const char* name, VarType type) {
  return MemberInfo{id, name, MemberKind::kProperty, type, {}, "", kUnboundedText};
}
constexpr MemberInfo Event(int id, const char* name, std::span<const ParamInfo> params) {
  return MemberInfo{id, name, MemberKind::kEvent, None, params, "", 0};
}

constexpr MemberInfo kInterfaceMembers[] = {
    Method(dispid::kPlayVideo, "PlayVideo", I4, kPlayVideoParams),
    Method(dispid::kStopVideo, "StopVideo", I4),
    Method(dispid::kSetFocus, "SetFocus", I4, kSetFocusParams, "0:no focus  1:focus"),
    Method(dispid::kShowMax, "ShowMax", None),
    Method(dispid::kShowNormal, "ShowNormal", None),
    Property(dispid::kSoundState, "SoundState", I4),
    Property(dispid::kTalkState, "TalkState", I4),
    Property(dispid::kRecordState, "RecordState", I4),
    Method(dispid::kCapturePic, "CapturePic", I4),
    Method(dispid::kOpenSound, "OpenSound", I4),
    Method(dispid::kCloseSound, "CloseSound", I4),
    Method(dispid::kStartTalk, "StartTalk", I4),
    Method(dispid::kStopTalk, "StopTalk", I4),
    Method(dispid::kStartRecord, "StartRecord", I4),
    Method(dispid::kStopRecord, "StopRecord", I4),
    Method(dispid::kSetPath, "SetPath", None),
    Property(dispid::kVideoState, "VideoState", I4),
    Property(dispid::kRecFilePath, "RecFilePath", Str),
    Method(dispid::kOnSearchCameras, "OnSearchCameras", None),
    Method(dispid::kSetFlip, "SetFlip", I4, kSetFlipParams),
    Method(dispid::kSetOsd, "SetOsd", I4, kSetOsdParams),
    Method(dispid::kRemoveOsd, "RemoveOsd", I4),
    Method(dispid::kUpdataSize, "UpdataSize", None),
    Property(dispid::kRecFileLen, "RecFileLen", I4),
    Property(dispid::kRecTimeLen, "RecTimeLen", I4),
    Property(dispid::kReservedSpace, "ReservedSpace", I4),
    Property(dispid::kRecCover, "RecCover", I4),
    Method(dispid::kSetRecordProperty, "SetRecordProperty", None, kSetRecordPropertyParams),
    Method(dispid::kSdRecordFilePlay, "SdRecordFilePlay", I4, kSdRecordFilePlayParams),
    Method(dispid::kSdRecordFileStop, "SdRecordFileStop", I4),
    Method(dispid::kSdRecordFileSetPos, "SdRecordFileSetPos", I4, kSdRecordFileSetPosParams),
    Method(dispid::kSetAlias, "SetAlias", I4, kSetAliasParams),
    Method(dispid::kGetVersion, "GetVersion", I4),
};

constexpr MemberInfo kEventMembers[] = {
    Event(event_dispid::kMessageNotify, "MessageNotify", kMessageNotifyParams),
    Event(event_dispid::kOnCameraSearched, "OnCameraSearched", kOnCameraSearchedParams),
};

constexpr bool SortedByDispid(std::span<const MemberInfo> members) {
  for (size_t i = 1; i < members.size(); ++i) {
    if (members[i - 1].dispid >= members[i].dispid) return false;
  }
  return true;
}
static_assert(SortedByDispid(kInterfaceMembers), "interface members must be in rising DISPID order");
static_assert(SortedByDispid(kEventMembers), "events must be in rising DISPID order");

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

const MemberInfo* FindByDispid(std::span<const MemberInfo> members, int id) {
  auto it = std::lower_bound(members.begin(), members.end(), id,
                             [](const MemberInfo& m, int wanted) { return m.dispid < wanted; });
  return (it != members.end() && it->dispid == id) ? &*it : nullptr;
}

}  // namespace

std::span<const MemberInfo> InterfaceMembers() { return kInterfaceMembers; }
std::span<const MemberInfo> EventMembers() { return kEventMembers; }

const MemberInfo* FindInterfaceMember(int id) { return FindByDispid(kInterfaceMembers, id); }
const MemberInfo* FindEvent(int id) { return FindByDispid(kEventMembers, id); }

int LookupDispid(std::string_view name) {
  for (const MemberInfo& m : kInterfaceMembers) {
    if (EqualNoCase(m.name, name)) return m.dispid;
  }
  for (const MemberInfo& m : kEventMembers) {
    if (EqualNoCase(m.name, name)) return m.dispid;
  }
  return -1;
}

}  // namespace lumvara::control
