// Calls by DISPID: the checks that come before anything runs, the argument
// conversion, results and property access; event argument lists.
#include "control/dispatch/dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumvara::control {
namespace {

// Records what reaches it and answers with set values.
class RecordingTarget : public DispatchTarget {
 public:
  struct Call {
    char what;  // 'm' method, 'g' get, 'p' put
    int dispid;
    std::vector<DispatchValue> args;
  };

  DispatchValue InvokeMethod(int id, const DispatchArgs& args) override {
    Call call{'m', id, {}};
    for (size_t i = 0; i < args.size(); ++i) call.args.push_back(args[i]);
    calls.push_back(std::move(call));
    return methodResult;
  }
  DispatchValue GetProperty(int id) override {
    calls.push_back({'g', id, {}});
    return propertyValue;
  }
  void PutProperty(int id, const DispatchValue& value) override { calls.push_back({'p', id, {value}}); }

  std::vector<Call> calls;
  DispatchValue methodResult = DispatchValue::Long(0);
  DispatchValue propertyValue = DispatchValue::Long(0);
};

LumvaraVariant L(int32_t v) { return {LUMVARA_VT_I4, v, nullptr}; }
LumvaraVariant S(const char* s) { return {LUMVARA_VT_BSTR, 0, s}; }
LumvaraVariant E() { return {LUMVARA_VT_EMPTY, 0, nullptr}; }

constexpr int M = LUMVARA_DISPATCH_METHOD;
constexpr int G = LUMVARA_DISPATCH_PROPERTYGET;
constexpr int P = LUMVARA_DISPATCH_PROPERTYPUT;

TEST(Dispatcher, RefusedCallsRunNothingAndLeaveTheResultEmpty) {
  const LumvaraVariant playArgs[] = {S("u"), S("p"), S("127.0.0.1"), L(80), L(0), L(0)};
  const LumvaraVariant playPortAsText[] = {S("u"), S("p"), S("127.0.0.1"), S("80"), L(0), L(0)};
  const LumvaraVariant playUserAsLong[] = {L(1), S("p"), S("127.0.0.1"), L(80), L(0), L(0)};
  const LumvaraVariant playLastEmpty[] = {S("u"), S("p"), S("127.0.0.1"), L(80), L(0), E()};
  const LumvaraVariant oneLong[] = {L(1)};
  const LumvaraVariant oneText[] = {S("x")};
  const LumvaraVariant unknownType[] = {{99, 1, nullptr}};
  const struct {
    const char* what;
    int dispid;
    int flags;
    const LumvaraVariant* args;
    int argc;
    long rc;
  } cases[] = {
      {"unknown DISPID", 99, M, nullptr, 0, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"DISPID 0", 0, M, nullptr, 0, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"negative DISPID", -1, M | G, nullptr, 0, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"no flags", dispid::kGetVersion, 0, nullptr, 0, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"method written", dispid::kGetVersion, P, oneLong, 1, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"method read as property", dispid::kGetVersion, G, nullptr, 0, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"property called", dispid::kSoundState, M, nullptr, 0, LUMVARA_DISP_E_MEMBERNOTFOUND},
      {"too few", dispid::kPlayVideo, M, playArgs, 5, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"too many", dispid::kGetVersion, M, oneLong, 1, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"negative count", dispid::kGetVersion, M, nullptr, -1, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"null arguments", dispid::kSetFocus, M, nullptr, 1, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"text for a long", dispid::kPlayVideo, M, playPortAsText, 6, LUMVARA_DISP_E_TYPEMISMATCH},
      {"long for a text", dispid::kPlayVideo, M, playUserAsLong, 6, LUMVARA_DISP_E_TYPEMISMATCH},
      {"empty for a long", dispid::kPlayVideo, M, playLastEmpty, 6, LUMVARA_DISP_E_TYPEMISMATCH},
      {"unknown type", dispid::kSetFocus, M, unknownType, 1, LUMVARA_DISP_E_TYPEMISMATCH},
      {"read with an argument", dispid::kSoundState, G, oneLong, 1, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"write without a value", dispid::kSoundState, P, nullptr, 0, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"write two values", dispid::kSoundState, P, playArgs + 3, 2, LUMVARA_DISP_E_BADPARAMCOUNT},
      {"text into a long property", dispid::kRecFileLen, P, oneText, 1, LUMVARA_DISP_E_TYPEMISMATCH},
      {"long into a text property", dispid::kRecFilePath, P, oneLong, 1, LUMVARA_DISP_E_TYPEMISMATCH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingTarget target;
    LumvaraVariant result = L(1234);
    EXPECT_EQ(Invoke(target, c.dispid, c.flags, c.args, c.argc, &result), c.rc);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(result.vt, LUMVARA_VT_EMPTY);
    EXPECT_EQ(result.bstrVal, nullptr);
  }
}

TEST(Dispatcher, MethodGetsItsArgumentsInDeclaredOrder) {
  RecordingTarget target;
  target.methodResult = DispatchValue::Long(1);
  const LumvaraVariant args[] = {S("admin"), S("secret"), S("127.0.0.1"), L(8080), L(1), L(-2)};
  LumvaraVariant result{};
  ASSERT_EQ(Invoke(target, dispid::kPlayVideo, M, args, 6, &result), LUMVARA_S_OK);
  ASSERT_EQ(target.calls.size(), 1u);
  const auto& call = target.calls[0];
  EXPECT_EQ(call.what, 'm');
  EXPECT_EQ(call.dispid, dispid::kPlayVideo);
  ASSERT_EQ(call.args.size(), 6u);
  EXPECT_EQ(call.args[0].str, "admin");
  EXPECT_EQ(call.args[1].str, "secret");
  EXPECT_EQ(call.args[2].str, "127.0.0.1");
  EXPECT_EQ(call.args[3].lVal, 8080);
  EXPECT_EQ(call.args[4].lVal, 1);
  EXPECT_EQ(call.args[5].lVal, -2);
  EXPECT_EQ(result.vt, LUMVARA_VT_I4);
  EXPECT_EQ(result.lVal, 1);
}

TEST(Dispatcher, MethodAcceptsTheGetFlagBesideTheMethodFlag) {
  RecordingTarget target;
  target.methodResult = DispatchValue::Long(65536);
  LumvaraVariant result{};
  ASSERT_EQ(Invoke(target, dispid::kGetVersion, M | G, nullptr, 0, &result), LUMVARA_S_OK);
  EXPECT_EQ(result.lVal, 65536);
}

TEST(Dispatcher, NullTextArgumentIsEmpty) {
  RecordingTarget target;
  const LumvaraVariant args[] = {S(nullptr)};
  ASSERT_EQ(Invoke(target, dispid::kSetOsd, M, args, 1, nullptr), LUMVARA_S_OK);
  ASSERT_EQ(target.calls.size(), 1u);
  EXPECT_EQ(target.calls[0].args[0].str, "");
}

TEST(Dispatcher, ResultTypeIsTheDeclaredOne) {
  RecordingTarget target;
  target.methodResult = DispatchValue::Long(7);  // a method without a result returns nothing all the same
  LumvaraVariant result = L(99);
  ASSERT_EQ(Invoke(target, dispid::kShowMax, M, nullptr, 0, &result), LUMVARA_S_OK);
  EXPECT_EQ(result.vt, LUMVARA_VT_EMPTY);
  EXPECT_EQ(target.calls.size(), 1u);
}

TEST(Dispatcher, TextsAreCutAtACharacterBoundaryToTheirField) {
  const std::string longAscii(100, 'a');
  const std::string cjk = [] {
    std::string s;
    for (int i = 0; i < 50; ++i) s += "\xE5\xAE\x8B";  // 宋, three bytes
    return s;
  }();
  // 62 ASCII bytes then a two-byte character: 64 bytes, the character does
  // not fit in 63 and must go whole.
  const std::string twoByteAtEdge = std::string(62, 'x') + "\xC3\xA9";
  const std::string fileName(600, 'f');
  const struct {
    int dispid;
    std::vector<LumvaraVariant> args;
    size_t argIndex;
    std::string want;
  } cases[] = {
      {dispid::kPlayVideo, {S(longAscii.c_str()), S("p"), S("h"), L(1), L(0), L(0)}, 0, std::string(63, 'a')},
      {dispid::kPlayVideo, {S("u"), S(twoByteAtEdge.c_str()), S("h"), L(1), L(0), L(0)}, 1, std::string(62, 'x')},
      {dispid::kPlayVideo, {S("u"), S("p"), S(cjk.c_str()), L(1), L(0), L(0)}, 2, cjk.substr(0, 63)},
      {dispid::kSetAlias, {S(cjk.c_str())}, 0, cjk.substr(0, 63)},
      {dispid::kSetAlias, {S(longAscii.c_str())}, 0, std::string(63, 'a')},
      {dispid::kSetOsd, {S(cjk.c_str())}, 0, cjk.substr(0, 126)},  // 42 characters; a 43rd would pass 127
      {dispid::kSetOsd, {S("short")}, 0, "short"},
      {dispid::kSdRecordFilePlay, {S("u"), S("p"), S("h"), L(1), S(fileName.c_str()), L(0)}, 4, std::string(511, 'f')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "dispid " << c.dispid << " argument " << c.argIndex);
    RecordingTarget target;
    ASSERT_EQ(Invoke(target, c.dispid, M, c.args.data(), static_cast<int>(c.args.size()), nullptr), LUMVARA_S_OK);
    ASSERT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(target.calls[0].args[c.argIndex].str, c.want);
  }
}

TEST(Dispatcher, PropertyGetAndPut) {
  RecordingTarget target;
  target.propertyValue = DispatchValue::Long(1);
  LumvaraVariant result{};
  ASSERT_EQ(Invoke(target, dispid::kSoundState, G, nullptr, 0, &result), LUMVARA_S_OK);
  EXPECT_EQ(result.vt, LUMVARA_VT_I4);
  EXPECT_EQ(result.lVal, 1);

  const LumvaraVariant one[] = {L(5)};
  ASSERT_EQ(Invoke(target, dispid::kRecFileLen, P, one, 1, &result), LUMVARA_S_OK);
  EXPECT_EQ(result.vt, LUMVARA_VT_EMPTY);
  const LumvaraVariant path[] = {S("/tmp/rec")};
  ASSERT_EQ(Invoke(target, dispid::kRecFilePath, P | M, path, 1, nullptr), LUMVARA_S_OK);

  ASSERT_EQ(target.calls.size(), 3u);
  EXPECT_EQ(target.calls[0].what, 'g');
  EXPECT_EQ(target.calls[0].dispid, dispid::kSoundState);
  EXPECT_EQ(target.calls[1].what, 'p');
  EXPECT_EQ(target.calls[1].dispid, dispid::kRecFileLen);
  EXPECT_EQ(target.calls[1].args[0].type, VarType::kI4);
  EXPECT_EQ(target.calls[1].args[0].lVal, 5);
  EXPECT_EQ(target.calls[2].args[0].type, VarType::kBstr);
  EXPECT_EQ(target.calls[2].args[0].str, "/tmp/rec");
}

TEST(Dispatcher, StringResultIsACopyTheCallerFrees) {
  RecordingTarget target;
  target.propertyValue = DispatchValue::String("/home/user");
  LumvaraVariant result{};
  ASSERT_EQ(Invoke(target, dispid::kRecFilePath, G, nullptr, 0, &result), LUMVARA_S_OK);
  ASSERT_EQ(result.vt, LUMVARA_VT_BSTR);
  ASSERT_NE(result.bstrVal, nullptr);
  EXPECT_STREQ(result.bstrVal, "/home/user");
  target.propertyValue.str = "changed";
  EXPECT_STREQ(result.bstrVal, "/home/user");
  ClearVariant(&result);  // the sanitizer build reports a leak or a bad free here
  EXPECT_EQ(result.vt, LUMVARA_VT_EMPTY);
  EXPECT_EQ(result.bstrVal, nullptr);
  ClearVariant(&result);
  ClearVariant(nullptr);
}

TEST(ConvertText, InvalidSequencesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"\xF0\x9F\x93\xB7", "\xF0\x9F\x93\xB7"},         // four bytes, kept
      {"a\x80z", "a" + fffd + "z"},                     // stray continuation
      {"\xC0\xAF", fffd + fffd},                        // overlong '/'
      {"\xED\xA0\x80", fffd + fffd + fffd},             // a surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
      {"end\xE5\xAE", "end" + fffd + fffd},             // cut short
      {"\xFF", fffd},
  };
  for (const auto& c : cases) EXPECT_EQ(ConvertText(c.in, kUnboundedText), c.out) << c.in;
}

TEST(ConvertText, CutNeverSplitsACharacter) {
  const std::string text = "ab\xF0\x9F\x93\xB7";  // 2 + 4 bytes
  const struct {
    size_t limit;
    std::string want;
  } cases[] = {{1, "a"}, {2, "ab"}, {3, "ab"}, {5, "ab"}, {6, text}, {7, text}};
  for (const auto& c : cases) EXPECT_EQ(ConvertText(text, c.limit), c.want) << "limit " << c.limit;
}

struct SinkLog {
  struct Entry {
    int kind;
    int dispid;
    std::vector<DispatchValue> args;
    void* context;
  };
  std::vector<Entry> entries;
};

void RecordSink(LumvaraControl, int kind, int id, const LumvaraVariant* args, int argc, void* context) {
  auto* log = static_cast<SinkLog*>(context);
  SinkLog::Entry e{kind, id, {}, context};
  for (int i = 0; i < argc; ++i) {
    if (args[i].vt == LUMVARA_VT_BSTR) {
      e.args.push_back(DispatchValue::String(args[i].bstrVal));
    } else {
      e.args.push_back(DispatchValue::Long(args[i].lVal));
    }
  }
  log->entries.push_back(std::move(e));
}

TEST(FireEvent, ArgumentsArriveInDeclaredOrder) {
  SinkLog log;
  ASSERT_TRUE(FireEvent(&RecordSink, nullptr, &log, event_dispid::kMessageNotify,
                        {DispatchValue::Long(3), DispatchValue::Long(0)}));
  ASSERT_TRUE(
      FireEvent(&RecordSink, nullptr, &log, event_dispid::kOnCameraSearched,
                {DispatchValue::Long(0), DispatchValue::String("cam"), DispatchValue::String("127.0.0.9"),
                 DispatchValue::Long(81), DispatchValue::Long(81), DispatchValue::Long(81), DispatchValue::Long(1)}));
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].kind, LUMVARA_SINK_EVENT);
  EXPECT_EQ(log.entries[0].dispid, 1);
  ASSERT_EQ(log.entries[0].args.size(), 2u);
  EXPECT_EQ(log.entries[0].args[0].lVal, 3);
  EXPECT_EQ(log.entries[0].args[1].lVal, 0);
  EXPECT_EQ(log.entries[1].dispid, 2);
  ASSERT_EQ(log.entries[1].args.size(), 7u);
  EXPECT_EQ(log.entries[1].args[1].str, "cam");
  EXPECT_EQ(log.entries[1].args[2].str, "127.0.0.9");
  EXPECT_EQ(log.entries[1].args[3].lVal, 81);
  EXPECT_EQ(log.entries[1].args[6].lVal, 1);
}

TEST(FireEvent, ValuesThatDoNotFitTheEventAreNotDelivered) {
  SinkLog log;
  EXPECT_FALSE(FireEvent(&RecordSink, nullptr, &log, event_dispid::kMessageNotify, {DispatchValue::Long(3)}));
  EXPECT_FALSE(FireEvent(&RecordSink, nullptr, &log, event_dispid::kMessageNotify,
                         {DispatchValue::String("3"), DispatchValue::Long(0)}));
  EXPECT_FALSE(FireEvent(&RecordSink, nullptr, &log, 7, {}));
  EXPECT_FALSE(FireEvent(nullptr, nullptr, &log, event_dispid::kMessageNotify,
                         {DispatchValue::Long(3), DispatchValue::Long(0)}));
  EXPECT_TRUE(log.entries.empty());
}

TEST(FireEvent, PropertyChangeHasNoArguments) {
  SinkLog log;
  ASSERT_TRUE(FirePropertyChanged(&RecordSink, nullptr, &log, dispid::kRecFileLen));
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].kind, LUMVARA_SINK_PROPERTY_CHANGED);
  EXPECT_EQ(log.entries[0].dispid, dispid::kRecFileLen);
  EXPECT_TRUE(log.entries[0].args.empty());
  EXPECT_EQ(log.entries[0].context, &log);
  EXPECT_FALSE(FirePropertyChanged(nullptr, nullptr, &log, dispid::kRecFileLen));
}

}  // namespace
}  // namespace lumvara::control
