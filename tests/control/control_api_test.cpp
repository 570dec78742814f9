// The control through the hosting API without a camera: creation, lookup,
// results of every method before any PlayVideo, properties, argument checks.
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "control/control_fixture.h"
#include "control/live_controls.h"

namespace control_test {
namespace {

using ControlApi = ControlTest;

TEST_F(ControlApi, CreateRefusesOtherProgIdsAndParents) {
  LumvaraWindow top = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "t", 100, 100);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(lumvara_control_create("LUMVARA.LumvaraPropPage.1", top, 0, 0, 100, 100), nullptr);
  EXPECT_EQ(lumvara_control_create(nullptr, top, 0, 0, 100, 100), nullptr);
  EXPECT_EQ(lumvara_control_create(LUMVARA_CONTROL_PROGID, nullptr, 0, 0, 100, 100), nullptr);
  EXPECT_EQ(lumvara_control_create(LUMVARA_CONTROL_PROGID, top, 0, 0, 0, 100), nullptr);
  lumvara_window_destroy(top);
}

TEST_F(ControlApi, CreateCountsLiveControls) {
  LumvaraWindow top = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "t", 100, 100);
  const size_t before = lumvara::control::LiveControlCount();
  LumvaraControl control = lumvara_control_create(LUMVARA_CONTROL_PROGID, top, 0, 0, 100, 100);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(lumvara::control::LiveControlCount(), before + 1);
  EXPECT_EQ(lumvara_window_get_rect(lumvara_control_window(control), nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(lumvara_control_destroy(control), 1);
  EXPECT_EQ(lumvara::control::LiveControlCount(), before);
  // A destroyed handle is refused everywhere.
  EXPECT_EQ(lumvara_control_destroy(control), 0);
  EXPECT_EQ(lumvara_control_get_dispid(control, "GetVersion"), -1);
  EXPECT_EQ(lumvara_control_window(control), nullptr);
  LumvaraVariant result{LUMVARA_VT_I4, 5, nullptr};
  EXPECT_EQ(lumvara_control_invoke(control, 33, LUMVARA_DISPATCH_METHOD, nullptr, 0, &result), LUMVARA_E_INVALIDHANDLE);
  EXPECT_EQ(result.vt, LUMVARA_VT_EMPTY);
  lumvara_window_destroy(top);
}

TEST_F(ControlApi, LooksNamesUpWithoutRegardToCase) {
  EXPECT_EQ(Dispid("PlayVideo"), 1);
  EXPECT_EQ(Dispid("playvideo"), 1);
  EXPECT_EQ(Dispid("GETVERSION"), 33);
  EXPECT_EQ(Dispid("RecCover"), 27);
  EXPECT_EQ(Dispid("MessageNotify"), 1);
  EXPECT_EQ(Dispid("NoSuchMember"), -1);
}

TEST_F(ControlApi, MethodsBeforeAnyPlayVideo) {
  struct Case {
    const char* method;
    std::vector<Arg> args;
    int32_t result;
  };
  const Case cases[] = {
      {"GetVersion", {}, 65536},   {"OpenSound", {}, -1},
      {"CloseSound", {}, -1},      {"StartRecord", {}, -1},
      {"StopRecord", {}, -1},      {"CapturePic", {}, -1},
      {"StopTalk", {}, -1},        {"SetAlias", {"camera"}, -1},
      {"StopVideo", {}, 0},        {"SetFlip", {1}, 0},
      {"SetOsd", {"text"}, 0},     {"RemoveOsd", {}, 0},
      {"SdRecordFileStop", {}, 0}, {"SdRecordFileSetPos", {1000}, 0},
      {"SetFocus", {1}, 0},        {"SdRecordFilePlay", {"admin", "", "127.0.0.1", 1, "", 0}, -1},  // empty file name
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Call(c.method, c.args), c.result) << c.method;
  }
  // Nothing was started: the state properties read 0, and no event fired.
  for (const char* state : {"SoundState", "TalkState", "RecordState", "VideoState"}) {
    EXPECT_EQ(GetLong(state), 0) << state;
  }
  EXPECT_TRUE(Events().empty());
}

TEST_F(ControlApi, PlayVideoWithAnEmptyAddressCreatesNothing) {
  EXPECT_EQ(Call("PlayVideo", {"admin", "", "", 80, 0, 0}), 0);
  // No camera device: a second call is not refused, and sound needs a player.
  EXPECT_EQ(Call("PlayVideo", {"admin", "", "", 80, 0, 0}), 0);
  EXPECT_EQ(Call("OpenSound"), -1);
  EXPECT_EQ(Call("SetAlias", {"x"}), -1);
}

TEST_F(ControlApi, WritingAStatePropertyOnlyStoresIt) {
  Forget();
  EXPECT_EQ(Put("SoundState", 1), LUMVARA_S_OK);
  EXPECT_EQ(GetLong("SoundState"), 1);
  // The host heard the change; nothing was opened (sound still needs a player).
  ASSERT_EQ(heard_.size(), 1u);
  EXPECT_EQ(heard_[0], (Heard{LUMVARA_SINK_PROPERTY_CHANGED, 6, {}, {}}));
  EXPECT_EQ(Call("CloseSound"), -1);

  EXPECT_EQ(Put("RecFilePath", "/nowhere"), LUMVARA_S_OK);
  EXPECT_EQ(GetString("RecFilePath"), "/nowhere");
}

TEST_F(ControlApi, StopVideoResetsTheFourStates) {
  for (const char* state : {"SoundState", "TalkState", "RecordState", "VideoState"}) {
    ASSERT_EQ(Put(state, 1), LUMVARA_S_OK);
  }
  Forget();
  EXPECT_EQ(Call("StopVideo"), 0);
  for (const char* state : {"SoundState", "TalkState", "RecordState", "VideoState"}) {
    EXPECT_EQ(GetLong(state), 0) << state;
  }
  // Sound, record, video, talk: each change told to the host in that order.
  std::vector<int> changed;
  for (const Heard& h : heard_) {
    if (h.kind == LUMVARA_SINK_PROPERTY_CHANGED) changed.push_back(h.dispid);
  }
  EXPECT_EQ(changed, (std::vector<int>{6, 8, 17, 7}));
}

TEST_F(ControlApi, WrongArgumentsAreRefusedAndNothingRuns) {
  struct Case {
    const char* name;
    int flags;
    std::vector<Arg> args;
    long code;
  };
  const Case cases[] = {
      {"SetFocus", LUMVARA_DISPATCH_METHOD, {"1"}, LUMVARA_DISP_E_TYPEMISMATCH},
      {"SetFocus", LUMVARA_DISPATCH_METHOD, {}, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"SetFocus", LUMVARA_DISPATCH_METHOD, {1, 2}, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"SetRecordProperty", LUMVARA_DISPATCH_METHOD, {500, 50, 500, "1"}, LUMVARA_DISP_E_TYPEMISMATCH},
      {"SetRecordProperty", LUMVARA_DISPATCH_METHOD, {500, 50, 500}, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"PlayVideo", LUMVARA_DISPATCH_METHOD, {"admin", "", "127.0.0.1", 80, 0}, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"PlayVideo", LUMVARA_DISPATCH_METHOD, {"admin", "", 1, 80, 0, 0}, LUMVARA_DISP_E_TYPEMISMATCH},
      {"SoundState", LUMVARA_DISPATCH_METHOD, {}, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"SoundState", LUMVARA_DISPATCH_PROPERTYPUT, {"1"}, LUMVARA_DISP_E_TYPEMISMATCH},
      {"GetVersion", LUMVARA_DISPATCH_PROPERTYPUT, {1}, LUMVARA_DISP_E_MEMBERNOTFOUND},
  };
  const int32_t fileLen = GetLong("RecFileLen");
  Forget();
  for (const Case& c : cases) {
    std::vector<LumvaraVariant> variants;
    for (const Arg& a : c.args) variants.push_back({a.vt, a.l, a.vt == LUMVARA_VT_BSTR ? a.s.c_str() : nullptr});
    LumvaraVariant result{LUMVARA_VT_I4, 7, nullptr};
    EXPECT_EQ(lumvara_control_invoke(control_, Dispid(c.name), c.flags, variants.data(),
                                     static_cast<int>(variants.size()), &result),
              c.code)
        << c.name << " with " << c.args.size() << " arguments";
    EXPECT_EQ(result.vt, LUMVARA_VT_EMPTY) << c.name;
  }
  EXPECT_EQ(lumvara_control_invoke(control_, 99, LUMVARA_DISPATCH_METHOD, nullptr, 0, nullptr),
            LUMVARA_DISP_E_MEMBERNOTFOUND);
  // Nothing ran: no property changed, nothing was connected, no setting written.
  EXPECT_TRUE(heard_.empty());
  EXPECT_EQ(GetLong("RecFileLen"), fileLen);
  EXPECT_EQ(GetLong("SoundState"), 0);
  EXPECT_EQ(Call("SetAlias", {"x"}), -1);  // still no camera device
}

TEST_F(ControlApi, CallsFromAnotherThreadAreRefused) {
  long code = 0;
  LumvaraControl control = control_;
  std::thread([&] { code = lumvara_control_invoke(control, 33, LUMVARA_DISPATCH_METHOD, nullptr, 0, nullptr); }).join();
  EXPECT_EQ(code, LUMVARA_RPC_E_WRONG_THREAD);
  int destroyed = 1;
  std::thread([&] { destroyed = lumvara_control_destroy(control); }).join();
  EXPECT_EQ(destroyed, 0);
}

// A host that destroys the control from inside its event sink is refused
// instead of pulling the control from under its own code.
TEST_F(ControlApi, DestroyFromInsideTheSinkIsRefused) {
  struct Context {
    LumvaraControl control;
    int result = -1;
  } context{control_, -1};
  lumvara_control_advise(
      control_,
      [](LumvaraControl control, int, int, const LumvaraVariant*, int, void* c) {
        static_cast<Context*>(c)->result = lumvara_control_destroy(control);
      },
      &context);
  EXPECT_EQ(Put("SoundState", 1), LUMVARA_S_OK);
  EXPECT_EQ(context.result, 0);
  lumvara_control_advise(control_, &ControlTest::Sink, this);
}

// Talk needs no camera; without a sound server the capture cannot run, and
// the state still reports what was asked for.
TEST_F(ControlApi, TalkStartsOnceAndStopsOnce) {
  EXPECT_EQ(Call("StartTalk"), 0);
  EXPECT_EQ(Call("StartTalk"), 0);
  EXPECT_EQ(GetLong("TalkState"), 1);
  EXPECT_EQ(Call("StopTalk"), 0);
  EXPECT_EQ(GetLong("TalkState"), 0);
  EXPECT_EQ(Call("StopTalk"), -1);
  // StopVideo ends talk too.
  EXPECT_EQ(Call("StartTalk"), 0);
  EXPECT_EQ(Call("StopVideo"), 0);
  EXPECT_EQ(GetLong("TalkState"), 0);
  EXPECT_EQ(Call("StopTalk"), -1);
}

TEST_F(ControlApi, RecordingLimitsHaveLowerBoundsAndReachTheFile) {
  Call("SetRecordProperty", {50, 3, 100, 7});
  EXPECT_EQ(GetLong("RecFileLen"), 100);
  EXPECT_EQ(GetLong("RecTimeLen"), 5);
  EXPECT_EQ(GetLong("ReservedSpace"), 200);
  EXPECT_EQ(GetLong("RecCover"), 7);
  Call("SetRecordProperty", {101, 6, 201, 0});
  EXPECT_EQ(GetLong("RecFileLen"), 101);
  EXPECT_EQ(GetLong("RecTimeLen"), 6);
  EXPECT_EQ(GetLong("ReservedSpace"), 201);
  EXPECT_EQ(GetLong("RecCover"), 0);
  // First run: the recording folder is the home folder.
  EXPECT_EQ(GetString("RecFilePath"), (dir_ / "home").string());
}

TEST_F(ControlApi, ACancelledFolderChooserChangesNothing) {
  const std::string before = GetString("RecFilePath");
  Forget();
  Call("SetPath");
  EXPECT_EQ(GetString("RecFilePath"), before);
  EXPECT_TRUE(heard_.empty());
}

TEST_F(ControlApi, FirstRunWritesOnlyTheRecordingFolder) {
  std::ifstream in(ini_);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[PATH]\nSETPATH=" + (dir_ / "home").string() + "\n");
  EXPECT_EQ(GetLong("RecFileLen"), 100);
  EXPECT_EQ(GetLong("RecTimeLen"), 5);
  EXPECT_EQ(GetLong("ReservedSpace"), 200);
  EXPECT_EQ(GetLong("RecCover"), 0);
}

// Values in the file are taken as they stand at window creation.
class ControlWithSettings : public ControlTest {
 protected:
  void BeforeCreate() override {
    std::ofstream out(ini_);
    out << "[PATH]\nSETPATH=/srv/rec\nFILELEN=10\nTIMELEN=abc\n";
  }
};

TEST_F(ControlWithSettings, ReadsTheFileAsItStands) {
  EXPECT_EQ(GetString("RecFilePath"), "/srv/rec");
  EXPECT_EQ(GetLong("RecFileLen"), 10);
  EXPECT_EQ(GetLong("RecTimeLen"), 0);  // not a number
  EXPECT_EQ(GetLong("ReservedSpace"), 200);
}

TEST_F(ControlApi, TypeLibraryNamesTheControl) {
  const std::string json = lumvara_control_type_library();
  EXPECT_NE(json.find("LumvaraLib"), std::string::npos);
  EXPECT_NE(json.find("PlayVideo"), std::string::npos);
  EXPECT_NE(json.find("MessageNotify"), std::string::npos);
}

}  // namespace
}  // namespace control_test
