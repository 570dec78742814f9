// Every member of the type library, taken from the dispatch table and
// invoked through the hosting API on a control with no camera: each method
// gives its declared kind of result and the value it documents for this
// situation, each property reads and writes as its type. Whatever reaches
// the network goes to loopback only: a TCP port that is bound but does not
// listen, and the test's own search socket.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <optional>

#include "control/control_fixture.h"
#include "control/dispatch/dispatch_table.h"
#include "platform/winsys/window.h"

namespace control_test {
namespace {

using namespace std::chrono_literals;
using lumvara::control::EventMembers;
using lumvara::control::InterfaceMembers;
using lumvara::control::MemberInfo;
using lumvara::control::MemberKind;
using lumvara::control::VarType;

class EveryMember : public ControlTest {
 protected:
  void BeforeCreate() override {
    chosen_ = (dir_ / "chosen").string();
    std::filesystem::create_directories(chosen_);
    // SetPath's folder chooser answers with this folder.
    ::setenv("LUMVARA_FOLDER_PICKER_CHOICE", chosen_.c_str(), 1);
    // A loopback port that refuses connections: bound, never listening.
    closed_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(closed_, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(closed_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t size = sizeof local;
    ASSERT_EQ(::getsockname(closed_, reinterpret_cast<sockaddr*>(&local), &size), 0);
    closedPort_ = ntohs(local.sin_port);
  }
  void TearDown() override {
    ControlTest::TearDown();
    ::setenv("LUMVARA_FOLDER_PICKER_CHOICE", "", 1);
    if (closed_ >= 0) ::close(closed_);
  }

  // The argument the walk passes for a parameter, by its name in the table.
  std::optional<Arg> ArgumentFor(const lumvara::control::ParamInfo& param) const {
    const std::map<std::string, Arg> longs = {
        {"port", closedPort_}, {"ServerPort", closedPort_},
        {"streamid", 0},       {"audioid", 0},
        {"bFocus", 1},         {"type", 1},
        {"fileLen", 150},      {"timeLen", 9},
        {"reserved", 300},     {"cover", 1},
        {"pos", 1000},
    };
    const std::map<std::string, Arg> strings = {
        {"user", "admin"},         {"pwd", "secret"}, {"ip", "127.0.0.1"},
        {"ServerIp", "127.0.0.1"}, {"osd", "walk"},   {"FileName", "20261209120000_000.h264"},
        {"alias", "walk"},
    };
    const auto& values = param.type == VarType::kI4 ? longs : strings;
    const auto it = values.find(param.name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }

  std::string chosen_;
  int closed_ = -1;
  int closedPort_ = 0;
};

// What each method gives here, in the order the walk reaches it (DISPID
// order): no camera answers, so only what needs none succeeds. nullopt: the
// method has no result. `check` (optional) looks at what it did.
struct Expectation {
  std::optional<int32_t> result;
  std::function<void()> check;
};

TEST_F(EveryMember, EveryMethodAndPropertyOfTheTypeLibraryIsImplemented) {
  namespace winsys = lumvara::winsys;
  const auto video = [&] { return lumvara_control_video_window(control_); };
  const std::map<std::string, Expectation> expected = {
      {"PlayVideo", {0, {}}},  // a device is created; its connection is refused
      {"StopVideo", {0, {}}},
      {"SetFocus", {0, {}}},
      {"ShowMax", {std::nullopt, [&] { EXPECT_EQ(winsys::GetParent(video()), nullptr) << "full screen"; }}},
      {"ShowNormal", {std::nullopt, [&] { EXPECT_EQ(winsys::GetParent(video()), lumvara_control_window(control_)); }}},
      {"CapturePic", {-1, {}}},  // no player
      {"OpenSound", {-1, {}}},
      {"CloseSound", {-1, {}}},
      {"StartTalk", {0, {}}},  // needs no camera
      {"StopTalk", {0, {}}},
      {"StartRecord", {-1, {}}},
      {"StopRecord", {-1, {}}},
      {"SetPath", {std::nullopt, [&] { EXPECT_EQ(GetString("RecFilePath"), chosen_); }}},
      {"OnSearchCameras",
       {std::nullopt,
        [&] {
          sockaddr_in from{};
          EXPECT_EQ(ReceiveSearchRequest(&from, 5s), std::string("DH\x01\x01", 4));
        }}},
      {"SetFlip", {0, {}}},
      {"SetOsd", {0, {}}},
      {"RemoveOsd", {0, {}}},
      {"UpdataSize", {std::nullopt, {}}},
      {"SetRecordProperty",
       {std::nullopt,
        [&] {
          EXPECT_EQ(GetLong("RecFileLen"), 150);
          EXPECT_EQ(GetLong("RecTimeLen"), 9);
          EXPECT_EQ(GetLong("ReservedSpace"), 300);
          EXPECT_EQ(GetLong("RecCover"), 1);
        }}},
      {"SdRecordFilePlay", {0, {}}},  // no live view: accepted; the connection is refused
      {"SdRecordFileStop", {0, {}}},
      {"SdRecordFileSetPos", {0, {}}},  // no playback: nothing to do
      {"SetAlias", {-1, {}}},           // no camera
      {"GetVersion", {65536, {}}},
  };

  size_t methods = 0;
  for (const MemberInfo& member : InterfaceMembers()) {
    SCOPED_TRACE(member.name);
    EXPECT_EQ(Dispid(member.name), member.dispid);
    if (member.kind == MemberKind::kProperty) {
      // Read, write another value of the type, read it back, restore.
      LumvaraVariant value{};
      ASSERT_EQ(lumvara_control_invoke(control_, member.dispid, LUMVARA_DISPATCH_PROPERTYGET, nullptr, 0, &value),
                LUMVARA_S_OK);
      EXPECT_EQ(value.vt, static_cast<int32_t>(member.type));
      const Arg original =
          value.vt == LUMVARA_VT_BSTR ? Arg(std::string(value.bstrVal ? value.bstrVal : "")) : Arg(value.lVal);
      lumvara_variant_clear(&value);
      const Arg other = member.type == VarType::kBstr ? Arg((dir_ / "other").string()) : Arg(original.l + 7);
      EXPECT_EQ(Put(member.name, other), LUMVARA_S_OK);
      if (member.type == VarType::kBstr) {
        EXPECT_EQ(GetString(member.name), other.s);
      } else {
        EXPECT_EQ(GetLong(member.name), other.l);
      }
      EXPECT_EQ(Put(member.name, original), LUMVARA_S_OK);
      // A property is no method.
      EXPECT_EQ(lumvara_control_invoke(control_, member.dispid, LUMVARA_DISPATCH_METHOD, nullptr, 0, &value),
                LUMVARA_DISP_E_MEMBERNOTFOUND);
      continue;
    }
    ASSERT_EQ(member.kind, MemberKind::kMethod);
    ++methods;
    const auto it = expected.find(member.name);
    ASSERT_NE(it, expected.end()) << "the walk has no expectation for this method";
    std::vector<Arg> args;
    for (const auto& param : member.params) {
      const auto arg = ArgumentFor(param);
      ASSERT_TRUE(arg.has_value()) << "no value for parameter " << param.name;
      ASSERT_EQ(arg->vt, static_cast<int32_t>(param.type)) << param.name;
      args.push_back(*arg);
    }
    std::vector<LumvaraVariant> variants;
    for (const Arg& a : args) variants.push_back({a.vt, a.l, a.vt == LUMVARA_VT_BSTR ? a.s.c_str() : nullptr});
    LumvaraVariant result{LUMVARA_VT_I4, 12345, nullptr};
    ASSERT_EQ(lumvara_control_invoke(control_, member.dispid, LUMVARA_DISPATCH_METHOD, variants.data(),
                                     static_cast<int>(variants.size()), &result),
              LUMVARA_S_OK);
    EXPECT_EQ(result.vt, static_cast<int32_t>(member.type));
    if (it->second.result.has_value()) {
      EXPECT_EQ(member.type, VarType::kI4);
      EXPECT_EQ(result.lVal, *it->second.result);
    } else {
      EXPECT_EQ(member.type, VarType::kEmpty);
    }
    lumvara_variant_clear(&result);
    if (it->second.check) it->second.check();
    // Whatever the call started runs on while the walk goes on.
    Pump(0);
  }
  // The expectations name methods of the table and nothing else.
  EXPECT_EQ(methods, expected.size());

  // Every event heard meanwhile is one of the table's, with its arguments.
  Pump(100);
  for (const Heard& h : Events()) {
    const MemberInfo* event = lumvara::control::FindEvent(h.dispid);
    ASSERT_NE(event, nullptr) << h.dispid;
    EXPECT_EQ(h.longs.size() + h.strings.size(), event->params.size()) << event->name;
  }
  for (const MemberInfo& event : EventMembers()) EXPECT_EQ(Dispid(event.name), event.dispid) << event.name;
}

}  // namespace
}  // namespace control_test
