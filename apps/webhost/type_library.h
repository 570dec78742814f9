#pragma once
// The control's scripting surface as the host reads it from the type
// library JSON the library publishes: which names are methods, properties
// and events, their DISPIDs and parameter types. The host checks each call
// from a page against it before anything runs.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumvara::webhost {

enum class ValueType { kEmpty, kLong, kString };

struct Param {
  std::string name;
  ValueType type = ValueType::kLong;
};

struct Member {
  std::string name;
  int dispid = 0;
  std::vector<Param> params;           // methods and events
  ValueType type = ValueType::kEmpty;  // a method's result, a property's value
};

class TypeLibrary {
 public:
  // Parses the JSON; nullopt when it is not a type library.
  static std::optional<TypeLibrary> Parse(std::string_view json);

  const Member* Method(std::string_view name) const;
  const Member* Property(std::string_view name) const;
  const Member* PropertyById(int dispid) const;
  const Member* EventById(int dispid) const;
  const std::vector<Member>& methods() const { return methods_; }
  const std::vector<Member>& properties() const { return properties_; }
  const std::vector<Member>& events() const { return events_; }
  // What lumvara.js needs to build a control's methods, properties and
  // events: {"methods":[{"name","type","params":[{"name","type"}]}], ...}.
  std::string SurfaceJson() const;

 private:
  std::vector<Member> methods_;
  std::vector<Member> properties_;
  std::vector<Member> events_;
};

}  // namespace lumvara::webhost
