#pragma once
// Invocation of the control's scripting members by DISPID, and the building
// of event argument lists, over the one member table (dispatch_table.h).
//
// Invoke checks everything before anything runs: the member exists and is
// called the way its kind allows, the argument count matches, each argument
// has its declared type. Only then are the arguments converted (strings made
// valid UTF-8 and cut at a character boundary to their field) and handed to
// the target, in the order the type library declares them.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <lumvara/control.h>

#include "control/dispatch/dispatch_table.h"

namespace lumvara::control {

// One converted argument, result or property value.
struct DispatchValue {
  VarType type = VarType::kEmpty;
  int32_t lVal = 0;
  std::string str;  // UTF-8, for kBstr

  static DispatchValue Empty() { return {}; }
  static DispatchValue Long(int32_t value) { return {VarType::kI4, value, {}}; }
  static DispatchValue String(std::string value) { return {VarType::kBstr, 0, std::move(value)}; }
};

// The arguments of one call, in declared order, already checked against the
// member's parameter list: Long(i) is only asked of a kI4 parameter and
// String(i) of a kBstr one.
class DispatchArgs {
 public:
  DispatchArgs() = default;
  explicit DispatchArgs(std::vector<DispatchValue> values) : values_(std::move(values)) {}

  size_t size() const { return values_.size(); }
  int32_t Long(size_t index) const { return values_.at(index).lVal; }
  const std::string& String(size_t index) const { return values_.at(index).str; }
  const DispatchValue& operator[](size_t index) const { return values_.at(index); }

 private:
  std::vector<DispatchValue> values_;
};

// What the dispatcher calls once a call has passed its checks. Runs on the
// thread that called Invoke (the control's window thread). The DISPID is
// always one of the table's members of the right kind.
class DispatchTarget {
 public:
  virtual ~DispatchTarget() = default;
  // The method's result; its type is taken from the table (a method declared
  // without a result gives kEmpty whatever is returned).
  virtual DispatchValue InvokeMethod(int dispid, const DispatchArgs& args) = 0;
  // The property's current value.
  virtual DispatchValue GetProperty(int dispid) = 0;
  // Stores a value (already of the property's type) and runs the property's
  // change handler.
  virtual void PutProperty(int dispid, const DispatchValue& value) = 0;
};

// Calls a method (LUMVARA_DISPATCH_METHOD), reads a property
// (LUMVARA_DISPATCH_PROPERTYGET, no arguments) or writes one
// (LUMVARA_DISPATCH_PROPERTYPUT, one argument) of `target`.
//   LUMVARA_DISP_E_MEMBERNOTFOUND: no member with that DISPID, or the flags do
//     not fit its kind (a property called as a method, a method written).
//   LUMVARA_DISP_E_BADPARAMCOUNT: argc differs from the parameter count, or
//     args is null with argc > 0.
//   LUMVARA_DISP_E_TYPEMISMATCH: an argument is not of its declared type.
// On any of these the target is not called and `result` is emptied. On
// success `result` (may be null) receives the value; a string in it is
// allocated here and freed with ClearVariant. A VT_BSTR argument whose
// bstrVal is null counts as the empty string.
long Invoke(DispatchTarget& target, int dispid, int flags, const LumvaraVariant* args, int argc,
            LumvaraVariant* result);

// Frees a string a result holds (allocated by Invoke) and empties the value.
void ClearVariant(LumvaraVariant* value);

// Makes `text` valid UTF-8 (each invalid byte sequence becomes U+FFFD) and
// cuts it at the last character boundary at or below `maxBytes` bytes
// (kUnboundedText: no cut).
std::string ConvertText(std::string_view text, size_t maxBytes);

// An event's arguments as LumvaraVariant values, in the order the event
// declares them. The strings live as long as this object.
class EventArgs {
 public:
  // Checks `values` against the event's parameters; valid() is false for an
  // unknown event, a wrong count or a wrong type (a fault of the caller).
  EventArgs(int eventDispid, std::vector<DispatchValue> values);
  EventArgs(const EventArgs&) = delete;
  EventArgs& operator=(const EventArgs&) = delete;

  bool valid() const { return valid_; }
  int dispid() const { return dispid_; }
  const LumvaraVariant* data() const { return variants_.data(); }
  int size() const { return static_cast<int>(variants_.size()); }

 private:
  int dispid_;
  bool valid_ = false;
  std::vector<DispatchValue> values_;
  std::vector<LumvaraVariant> variants_;
};

// Builds the event's arguments and hands them to `sink` (kind
// LUMVARA_SINK_EVENT), synchronously on the calling thread. Nothing is
// delivered when `sink` is null or the values do not fit the event (the
// latter is logged). True when the sink was called.
bool FireEvent(LumvaraEventSink sink, LumvaraControl control, void* context, int eventDispid,
               std::vector<DispatchValue> values);
// Tells `sink` that a property changed (kind LUMVARA_SINK_PROPERTY_CHANGED,
// argc 0). True when the sink was called.
bool FirePropertyChanged(LumvaraEventSink sink, LumvaraControl control, void* context, int propertyDispid);

}  // namespace lumvara::control
