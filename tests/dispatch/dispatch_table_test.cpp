// The member table: every DISPID, name, kind and parameter list of the
// scripting surface, and name lookup.
#include "control/dispatch/dispatch_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace lumvara::control {
namespace {

struct Expected {
  int dispid;
  const char* name;
  MemberKind kind;
  VarType type;
  std::vector<std::pair<std::string, VarType>> params;
};

constexpr VarType I4 = VarType::kI4;
constexpr VarType Str = VarType::kBstr;
constexpr VarType None = VarType::kEmpty;
constexpr MemberKind M = MemberKind::kMethod;
constexpr MemberKind P = MemberKind::kProperty;

const std::vector<Expected>& ExpectedInterface() {
  static const std::vector<Expected> members = {
      {1,
       "PlayVideo",
       M,
       I4,
       {{"user", Str}, {"pwd", Str}, {"ip", Str}, {"port", I4}, {"streamid", I4}, {"audioid", I4}}},
      {2, "StopVideo", M, I4, {}},
      {3, "SetFocus", M, I4, {{"bFocus", I4}}},
      {4, "ShowMax", M, None, {}},
      {5, "ShowNormal", M, None, {}},
      {6, "SoundState", P, I4, {}},
      {7, "TalkState", P, I4, {}},
      {8, "RecordState", P, I4, {}},
      {9, "CapturePic", M, I4, {}},
      {10, "OpenSound", M, I4, {}},
      {11, "CloseSound", M, I4, {}},
      {12, "StartTalk", M, I4, {}},
      {13, "StopTalk", M, I4, {}},
      {14, "StartRecord", M, I4, {}},
      {15, "StopRecord", M, I4, {}},
      {16, "SetPath", M, None, {}},
      {17, "VideoState", P, I4, {}},
      {18, "RecFilePath", P, Str, {}},
      {19, "OnSearchCameras", M, None, {}},
      {20, "SetFlip", M, I4, {{"type", I4}}},
      {21, "SetOsd", M, I4, {{"osd", Str}}},
      {22, "RemoveOsd", M, I4, {}},
      {23, "UpdataSize", M, None, {}},
      {24, "RecFileLen", P, I4, {}},
      {25, "RecTimeLen", P, I4, {}},
      {26, "ReservedSpace", P, I4, {}},
      {27, "RecCover", P, I4, {}},
      {28, "SetRecordProperty", M, None, {{"fileLen", I4}, {"timeLen", I4}, {"reserved", I4}, {"cover", I4}}},
      {29,
       "SdRecordFilePlay",
       M,
       I4,
       {{"user", Str}, {"pwd", Str}, {"ServerIp", Str}, {"ServerPort", I4}, {"FileName", Str}, {"streamid", I4}}},
      {30, "SdRecordFileStop", M, I4, {}},
      {31, "SdRecordFileSetPos", M, I4, {{"pos", I4}}},
      {32, "SetAlias", M, I4, {{"alias", Str}}},
      {33, "GetVersion", M, I4, {}},
  };
  return members;
}

void ExpectMember(const MemberInfo& actual, const Expected& want) {
  SCOPED_TRACE(want.name);
  EXPECT_EQ(actual.dispid, want.dispid);
  EXPECT_STREQ(actual.name, want.name);
  EXPECT_EQ(actual.kind, want.kind);
  EXPECT_EQ(actual.type, want.type);
  ASSERT_EQ(actual.params.size(), want.params.size());
  for (size_t i = 0; i < want.params.size(); ++i) {
    EXPECT_EQ(actual.params[i].name, want.params[i].first) << "parameter " << i;
    EXPECT_EQ(actual.params[i].type, want.params[i].second) << "parameter " << i;
    if (actual.params[i].type == VarType::kI4) {
      EXPECT_EQ(actual.params[i].maxBytes, 0u);
    }
  }
}

TEST(DispatchTable, InterfaceHasExactlyTheListedMethodsAndProperties) {
  const auto members = InterfaceMembers();
  ASSERT_EQ(members.size(), ExpectedInterface().size());
  for (size_t i = 0; i < members.size(); ++i) ExpectMember(members[i], ExpectedInterface()[i]);

  const auto methods = std::count_if(members.begin(), members.end(), [](auto& m) { return m.kind == M; });
  const auto properties = std::count_if(members.begin(), members.end(), [](auto& m) { return m.kind == P; });
  EXPECT_EQ(methods, 24);
  EXPECT_EQ(properties, 9);
}

TEST(DispatchTable, EventsAreTheTwoListed) {
  const auto events = EventMembers();
  ASSERT_EQ(events.size(), 2u);
  ExpectMember(events[0], {1, "MessageNotify", MemberKind::kEvent, None, {{"lType", I4}, {"lParame", I4}}});
  ExpectMember(events[1], {2,
                           "OnCameraSearched",
                           MemberKind::kEvent,
                           None,
                           {{"iStatus", I4},
                            {"pszDevName", Str},
                            {"pszIpAddr", Str},
                            {"iPort", I4},
                            {"iCmdPort", I4},
                            {"iDataPort", I4},
                            {"iIsSameSubNet", I4}}});
}

TEST(DispatchTable, DispidsAndNamesAreUniqueWithinEachInterface) {
  for (auto members : {InterfaceMembers(), EventMembers()}) {
    std::set<int> ids;
    std::set<std::string> names;
    for (const MemberInfo& m : members) {
      EXPECT_TRUE(ids.insert(m.dispid).second) << m.dispid;
      std::string lower = m.name;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      EXPECT_TRUE(names.insert(lower).second) << m.name;
    }
  }
  // Lookup covers both interfaces with one namespace of names.
  for (const MemberInfo& e : EventMembers()) {
    for (const MemberInfo& m : InterfaceMembers()) EXPECT_STRNE(e.name, m.name);
  }
}

TEST(DispatchTable, StringParametersCarryTheirFieldSizes) {
  const std::map<std::pair<int, std::string>, size_t> want = {
      {{dispid::kPlayVideo, "user"}, 63},
      {{dispid::kPlayVideo, "pwd"}, 63},
      {{dispid::kPlayVideo, "ip"}, 63},
      {{dispid::kSdRecordFilePlay, "user"}, 63},
      {{dispid::kSdRecordFilePlay, "pwd"}, 63},
      {{dispid::kSdRecordFilePlay, "ServerIp"}, 63},
      {{dispid::kSdRecordFilePlay, "FileName"}, 511},
      {{dispid::kSetOsd, "osd"}, 127},
      {{dispid::kSetAlias, "alias"}, 63},
  };
  size_t seen = 0;
  for (const MemberInfo& m : InterfaceMembers()) {
    for (const ParamInfo& p : m.params) {
      if (p.type != VarType::kBstr) continue;
      auto it = want.find({m.dispid, p.name});
      ASSERT_NE(it, want.end()) << m.name << " " << p.name;
      EXPECT_EQ(p.maxBytes, it->second) << m.name << " " << p.name;
      ++seen;
    }
  }
  EXPECT_EQ(seen, want.size());
}

TEST(DispatchTable, SetFocusCarriesItsHelpText) {
  EXPECT_STREQ(FindInterfaceMember(dispid::kSetFocus)->help, "0:no focus  1:focus");
}

TEST(DispatchTable, FindByDispid) {
  for (const Expected& e : ExpectedInterface()) {
    const MemberInfo* m = FindInterfaceMember(e.dispid);
    ASSERT_NE(m, nullptr) << e.dispid;
    EXPECT_STREQ(m->name, e.name);
  }
  for (int missing : {0, -1, 34, 1000}) EXPECT_EQ(FindInterfaceMember(missing), nullptr) << missing;
  EXPECT_STREQ(FindEvent(2)->name, "OnCameraSearched");
  EXPECT_EQ(FindEvent(3), nullptr);
}

TEST(DispatchTable, NameLookupIgnoresCaseAndNothingElse) {
  const struct {
    const char* name;
    int dispid;
  } cases[] = {
      {"PlayVideo", 1},    {"playvideo", 1},   {"PLAYVIDEO", 1},     {"GetVersion", 33},
      {"recfilepath", 18}, {"UpdataSize", 23}, {"MessageNotify", 1}, {"onCameraSearched", 2},
      {"UpdateSize", -1},  {"PlayVideo ", -1}, {" PlayVideo", -1},   {"", -1},
      {"Play", -1},        {"PlayVideoX", -1}, {"_DLumvara", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(LookupDispid(c.name), c.dispid) << '"' << c.name << '"';
}

}  // namespace
}  // namespace lumvara::control
