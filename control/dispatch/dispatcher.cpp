// Argument checks and conversion for calls by DISPID; event argument lists.
#include "control/dispatch/dispatcher.h"

#include <cstdlib>
#include <cstring>

#include "platform/log/log.h"

namespace lumvara::control {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one
// (stray continuation, overlong form, surrogate, above U+10FFFF, cut short).
size_t ValidSequenceLength(std::string_view text, size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) return 1;
  size_t length = 0;
  uint32_t min = 0;
  uint32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, min = 0x80, cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, min = 0x800, cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if (!IsContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

bool ArgumentFits(const LumvaraVariant& arg, VarType type) { return arg.vt == static_cast<int32_t>(type); }

DispatchValue ConvertArgument(const LumvaraVariant& arg, VarType type, size_t maxBytes) {
  if (type == VarType::kI4) return DispatchValue::Long(arg.lVal);
  return DispatchValue::String(ConvertText(arg.bstrVal ? std::string_view(arg.bstrVal) : std::string_view(), maxBytes));
}

void EmptyVariant(LumvaraVariant* value) {
  if (!value) return;
  value->vt = LUMVARA_VT_EMPTY;
  value->lVal = 0;
  value->bstrVal = nullptr;
}

// Fills `result` with `value` as the declared type.
void StoreResult(const DispatchValue& value, VarType declared, LumvaraVariant* result) {
  if (!result) return;
  switch (declared) {
    case VarType::kEmpty:
      return;
    case VarType::kI4:
      result->vt = LUMVARA_VT_I4;
      result->lVal = value.lVal;
      return;
    case VarType::kBstr: {
      char* copy = static_cast<char*>(std::malloc(value.str.size() + 1));
      if (!copy) return;  // out of memory: the result stays empty
      std::memcpy(copy, value.str.data(), value.str.size());
      copy[value.str.size()] = '\0';
      result->vt = LUMVARA_VT_BSTR;
      result->bstrVal = copy;
      return;
    }
  }
}

// Checks count and types; on success appends the converted arguments.
long CheckArguments(std::span<const ParamInfo> params, const LumvaraVariant* args, int argc,
                    std::vector<DispatchValue>* out) {
  if (argc < 0 || static_cast<size_t>(argc) != params.size() || (argc > 0 && !args)) {
    return LUMVARA_DISP_E_BADPARAMCOUNT;
  }
  for (size_t i = 0; i < params.size(); ++i) {
    if (!ArgumentFits(args[i], params[i].type)) return LUMVARA_DISP_E_TYPEMISMATCH;
  }
  out->reserve(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    out->push_back(ConvertArgument(args[i], params[i].type, params[i].maxBytes));
  }
  return LUMVARA_S_OK;
}

long InvokeMethod(DispatchTarget& target, const MemberInfo& member, int flags, const LumvaraVariant* args, int argc,
                  LumvaraVariant* result) {
  if (!(flags & LUMVARA_DISPATCH_METHOD) || (flags & LUMVARA_DISPATCH_PROPERTYPUT)) {
    return LUMVARA_DISP_E_MEMBERNOTFOUND;
  }
  std::vector<DispatchValue> values;
  if (long rc = CheckArguments(member.params, args, argc, &values); rc != LUMVARA_S_OK) return rc;
  const DispatchValue value = target.InvokeMethod(member.dispid, DispatchArgs(std::move(values)));
  StoreResult(value, member.type, result);
  return LUMVARA_S_OK;
}

long InvokeProperty(DispatchTarget& target, const MemberInfo& member, int flags, const LumvaraVariant* args, int argc,
                    LumvaraVariant* result) {
  if (flags & LUMVARA_DISPATCH_PROPERTYPUT) {
    if (argc != 1 || !args) return LUMVARA_DISP_E_BADPARAMCOUNT;
    if (!ArgumentFits(args[0], member.type)) return LUMVARA_DISP_E_TYPEMISMATCH;
    target.PutProperty(member.dispid, ConvertArgument(args[0], member.type, member.maxBytes));
    return LUMVARA_S_OK;
  }
  if (flags & LUMVARA_DISPATCH_PROPERTYGET) {
    if (argc != 0) return LUMVARA_DISP_E_BADPARAMCOUNT;
    StoreResult(target.GetProperty(member.dispid), member.type, result);
    return LUMVARA_S_OK;
  }
  return LUMVARA_DISP_E_MEMBERNOTFOUND;
}

}  // namespace

std::string ConvertText(std::string_view text, size_t maxBytes) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = ValidSequenceLength(text, i);
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  if (maxBytes != kUnboundedText && out.size() > maxBytes) {
    size_t cut = maxBytes;
    while (cut > 0 && IsContinuation(static_cast<unsigned char>(out[cut]))) --cut;
    out.resize(cut);
  }
  return out;
}

long Invoke(DispatchTarget& target, int id, int flags, const LumvaraVariant* args, int argc, LumvaraVariant* result) {
  EmptyVariant(result);
  const MemberInfo* member = FindInterfaceMember(id);
  if (!member) return LUMVARA_DISP_E_MEMBERNOTFOUND;
  if (member->kind == MemberKind::kMethod) return InvokeMethod(target, *member, flags, args, argc, result);
  return InvokeProperty(target, *member, flags, args, argc, result);
}

void ClearVariant(LumvaraVariant* value) {
  if (!value) return;
  if (value->vt == LUMVARA_VT_BSTR) std::free(const_cast<char*>(value->bstrVal));
  EmptyVariant(value);
}

EventArgs::EventArgs(int eventDispid, std::vector<DispatchValue> values) : dispid_(eventDispid) {
  const MemberInfo* event = FindEvent(eventDispid);
  if (!event || values.size() != event->params.size()) return;
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].type != event->params[i].type) return;
  }
  values_ = std::move(values);
  variants_.resize(values_.size());
  for (size_t i = 0; i < values_.size(); ++i) {
    DispatchValue& v = values_[i];
    LumvaraVariant& out = variants_[i];
    out.vt = static_cast<int32_t>(v.type);
    if (v.type == VarType::kBstr) {
      v.str = ConvertText(v.str, event->params[i].maxBytes);
      out.lVal = 0;
      out.bstrVal = v.str.c_str();
    } else {
      out.lVal = v.lVal;
      out.bstrVal = nullptr;
    }
  }
  valid_ = true;
}

bool FireEvent(LumvaraEventSink sink, LumvaraControl control, void* context, int eventDispid,
               std::vector<DispatchValue> values) {
  EventArgs args(eventDispid, std::move(values));
  if (!args.valid()) {
    logf("control: event %d fired with arguments that do not fit its declaration\n", eventDispid);
    return false;
  }
  if (!sink) return false;
  sink(control, LUMVARA_SINK_EVENT, args.dispid(), args.data(), args.size(), context);
  return true;
}

bool FirePropertyChanged(LumvaraEventSink sink, LumvaraControl control, void* context, int propertyDispid) {
  if (!sink) return false;
  sink(control, LUMVARA_SINK_PROPERTY_CHANGED, propertyDispid, nullptr, 0, context);
  return true;
}

}  // namespace lumvara::control
