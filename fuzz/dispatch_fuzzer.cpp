// The dispatch layer's argument conversion: calls by DISPID with any flags,
// counts, types and texts a page or host may pass, and event arguments
// built from texts that came from a camera.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/dispatch/dispatch_table.h"
#include "control/dispatch/dispatcher.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace lumvara::control;

// UTF-8 as RFC 3629 draws it: the byte ranges of each well-formed sequence.
bool isValidUtf8(std::string_view text) {
  size_t i = 0;
  auto in = [&](size_t at, unsigned lo, unsigned hi) {
    return at < text.size() && static_cast<unsigned char>(text[at]) >= lo && static_cast<unsigned char>(text[at]) <= hi;
  };
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    size_t n = 0;
    if (b <= 0x7F)
      n = 1;
    else if (b >= 0xC2 && b <= 0xDF && in(i + 1, 0x80, 0xBF))
      n = 2;
    else if (b == 0xE0 && in(i + 1, 0xA0, 0xBF) && in(i + 2, 0x80, 0xBF))
      n = 3;
    else if (((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) && in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF))
      n = 3;
    else if (b == 0xED && in(i + 1, 0x80, 0x9F) && in(i + 2, 0x80, 0xBF))
      n = 3;
    else if (b == 0xF0 && in(i + 1, 0x90, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF))
      n = 4;
    else if (b >= 0xF1 && b <= 0xF3 && in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF))
      n = 4;
    else if (b == 0xF4 && in(i + 1, 0x80, 0x8F) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF))
      n = 4;
    else
      return false;
    i += n;
  }
  return true;
}

// A converted text is valid UTF-8, within its bound, and the input itself
// when that already was valid and short enough.
void checkText(std::string_view input, const std::string& converted, size_t maxBytes) {
  FUZZ_CHECK(isValidUtf8(converted));
  if (maxBytes != kUnboundedText) FUZZ_CHECK(converted.size() <= maxBytes);
  if (isValidUtf8(input) && (maxBytes == kUnboundedText || input.size() <= maxBytes)) {
    FUZZ_CHECK(converted == input);
  }
  // Cutting never drops more than one character's bytes.
  const std::string whole = ConvertText(input, kUnboundedText);
  FUZZ_CHECK(whole.compare(0, converted.size(), converted) == 0);
  if (maxBytes != kUnboundedText && whole.size() > maxBytes) FUZZ_CHECK(converted.size() + 4 > maxBytes);
}

struct Call {
  const MemberInfo* member = nullptr;
  std::vector<std::string> inputs;  // texts as passed, per argument
};

// Records what reaches it and answers with whatever the fuzzer says.
class Target : public DispatchTarget {
 public:
  Target(FuzzedDataProvider& fuzz, const Call& call) : fuzz_(fuzz), call_(call) {}
  int calls = 0;

  DispatchValue InvokeMethod(int dispid, const DispatchArgs& args) override {
    ++calls;
    FUZZ_CHECK(call_.member && call_.member->dispid == dispid && call_.member->kind == MemberKind::kMethod);
    FUZZ_CHECK(args.size() == call_.member->params.size());
    for (size_t i = 0; i < args.size(); ++i) {
      const ParamInfo& param = call_.member->params[i];
      FUZZ_CHECK(args[i].type == param.type);
      if (param.type == VarType::kBstr) checkText(call_.inputs[i], args.String(i), param.maxBytes);
    }
    return answer();
  }
  DispatchValue GetProperty(int dispid) override {
    ++calls;
    FUZZ_CHECK(call_.member && call_.member->dispid == dispid && call_.member->kind == MemberKind::kProperty);
    return answer();
  }
  void PutProperty(int dispid, const DispatchValue& value) override {
    ++calls;
    FUZZ_CHECK(call_.member && call_.member->dispid == dispid && call_.member->kind == MemberKind::kProperty);
    FUZZ_CHECK(value.type == call_.member->type);
    if (value.type == VarType::kBstr) checkText(call_.inputs[0], value.str, call_.member->maxBytes);
  }

 private:
  // Any type: the layer must give the caller the declared one.
  DispatchValue answer() {
    switch (fuzz_.ConsumeIntegralInRange(0, 2)) {
      case 0:
        return DispatchValue::Empty();
      case 1:
        return DispatchValue::Long(fuzz_.ConsumeIntegral<int32_t>());
      default:
        return DispatchValue::String(fuzz_.ConsumeRandomLengthString(300));
    }
  }
  FuzzedDataProvider& fuzz_;
  const Call& call_;
};

void fuzzInvoke(FuzzedDataProvider& fuzz) {
  const int dispid = fuzz.ConsumeIntegralInRange(-1, 35);
  const int flagChoices[] = {LUMVARA_DISPATCH_METHOD, LUMVARA_DISPATCH_PROPERTYGET, LUMVARA_DISPATCH_PROPERTYPUT,
                             LUMVARA_DISPATCH_METHOD | LUMVARA_DISPATCH_PROPERTYGET, 0};
  const int flags = fuzz.ConsumeBool() ? fuzz.PickValueInArray(flagChoices) : fuzz.ConsumeIntegral<int>();
  const int argc = fuzz.ConsumeIntegralInRange(-1, 8);
  const bool nullArgs = fuzz.ConsumeIntegralInRange(0, 15) == 0;

  Call call;
  call.member = FindInterfaceMember(dispid);
  std::vector<LumvaraVariant> args(argc > 0 ? static_cast<size_t>(argc) : 0);
  call.inputs.resize(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    const int32_t types[] = {LUMVARA_VT_EMPTY, LUMVARA_VT_I4, LUMVARA_VT_BSTR};
    args[i].vt = fuzz.ConsumeBool() ? fuzz.PickValueInArray(types) : fuzz.ConsumeIntegral<int32_t>();
    args[i].lVal = fuzz.ConsumeIntegral<int32_t>();
    if (fuzz.ConsumeIntegralInRange(0, 7) == 0) {
      args[i].bstrVal = nullptr;  // counts as the empty text
    } else {
      call.inputs[i] = fuzz.ConsumeRandomLengthString(700);
      // Texts arrive NUL-terminated: what follows a NUL is not theirs.
      call.inputs[i] = call.inputs[i].c_str();
      args[i].bstrVal = call.inputs[i].c_str();
    }
  }

  Target target(fuzz, call);
  LumvaraVariant result{LUMVARA_VT_I4, 99, nullptr};
  const long rc = Invoke(target, dispid, flags, nullArgs ? nullptr : args.data(), argc, &result);
  if (rc != LUMVARA_S_OK) {
    FUZZ_CHECK(target.calls == 0);
    FUZZ_CHECK(result.vt == LUMVARA_VT_EMPTY && result.bstrVal == nullptr);
    return;
  }
  FUZZ_CHECK(call.member != nullptr && target.calls == 1);
  const bool put = call.member->kind == MemberKind::kProperty && (flags & LUMVARA_DISPATCH_PROPERTYPUT);
  if (put || call.member->type == VarType::kEmpty) {
    FUZZ_CHECK(result.vt == LUMVARA_VT_EMPTY);
  } else {
    FUZZ_CHECK(result.vt == static_cast<int32_t>(call.member->type));
    if (result.vt == LUMVARA_VT_BSTR) FUZZ_CHECK(result.bstrVal != nullptr);
  }
  ClearVariant(&result);
  FUZZ_CHECK(result.vt == LUMVARA_VT_EMPTY && result.bstrVal == nullptr);
}

void fuzzEvent(FuzzedDataProvider& fuzz) {
  const int dispid = fuzz.ConsumeIntegralInRange(0, 3);
  std::vector<DispatchValue> values;
  std::vector<std::string> inputs;
  const size_t count = fuzz.ConsumeIntegralInRange<size_t>(0, 4);
  for (size_t i = 0; i < count; ++i) {
    if (fuzz.ConsumeBool()) {
      values.push_back(DispatchValue::Long(fuzz.ConsumeIntegral<int32_t>()));
    } else {
      values.push_back(DispatchValue::String(fuzz.ConsumeRandomLengthString(400)));
    }
    inputs.push_back(values.back().str);
  }
  EventArgs args(dispid, values);
  if (!args.valid()) return;
  const MemberInfo* event = FindEvent(dispid);
  FUZZ_CHECK(event != nullptr && args.size() == static_cast<int>(event->params.size()));
  for (int i = 0; i < args.size(); ++i) {
    const LumvaraVariant& v = args.data()[i];
    FUZZ_CHECK(v.vt == static_cast<int32_t>(event->params[i].type));
    if (v.vt == LUMVARA_VT_BSTR) {
      FUZZ_CHECK(v.bstrVal != nullptr);
      // Hosts read it as a C string: the text a NUL ends is the text.
      const std::string seen(v.bstrVal);
      FUZZ_CHECK(isValidUtf8(seen));
      const std::string converted = ConvertText(inputs[static_cast<size_t>(i)], event->params[i].maxBytes);
      FUZZ_CHECK(converted.compare(0, seen.size(), seen) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fuzz(data, size);
  switch (fuzz.ConsumeIntegralInRange(0, 2)) {
    case 0:
      fuzzInvoke(fuzz);
      break;
    case 1:
      fuzzEvent(fuzz);
      break;
    default: {
      const size_t maxBytes = fuzz.ConsumeIntegralInRange<size_t>(0, 600);
      const std::string text = fuzz.ConsumeRemainingBytesAsString();
      checkText(text, ConvertText(text, maxBytes), maxBytes);
      break;
    }
  }
  return 0;
}
