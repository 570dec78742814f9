#include "apps/webhost/type_library.h"

#include <lumvara/control.h>

#include <nlohmann/json.hpp>

namespace lumvara::webhost {
namespace {

using nlohmann::json;

// Members carry their value's (or result's) variant type as "vt".
ValueType TypeOf(const json& member) {
  auto vt = member.find("vt");
  const int code = vt != member.end() && vt->is_number_integer() ? vt->get<int>() : LUMVARA_VT_EMPTY;
  if (code == LUMVARA_VT_I4) return ValueType::kLong;
  if (code == LUMVARA_VT_BSTR) return ValueType::kString;
  return ValueType::kEmpty;
}

bool ReadMembers(const json& list, std::vector<Member>* out) {
  if (!list.is_array()) return false;
  for (const json& m : list) {
    if (!m.is_object() || !m.contains("name") || !m["name"].is_string() || !m.contains("dispid") ||
        !m["dispid"].is_number_integer()) {
      return false;
    }
    Member member;
    member.name = m["name"].get<std::string>();
    member.dispid = m["dispid"].get<int>();
    member.type = TypeOf(m);
    if (auto params = m.find("params"); params != m.end()) {
      if (!params->is_array()) return false;
      for (const json& p : *params) {
        if (!p.is_object() || !p.contains("name") || !p["name"].is_string()) return false;
        member.params.push_back(Param{p["name"].get<std::string>(), TypeOf(p)});
      }
    }
    out->push_back(std::move(member));
  }
  return true;
}

const Member* ByName(const std::vector<Member>& list, std::string_view name) {
  for (const Member& m : list) {
    if (m.name == name) return &m;
  }
  return nullptr;
}

const Member* ById(const std::vector<Member>& list, int dispid) {
  for (const Member& m : list) {
    if (m.dispid == dispid) return &m;
  }
  return nullptr;
}

}  // namespace

std::optional<TypeLibrary> TypeLibrary::Parse(std::string_view text) {
  const json doc = json::parse(text.begin(), text.end(), nullptr, false);
  if (!doc.is_object() || !doc.contains("interfaces") || !doc["interfaces"].is_array()) return std::nullopt;
  TypeLibrary library;
  for (const json& iface : doc["interfaces"]) {
    if (!iface.is_object()) return std::nullopt;
    if (iface.contains("methods") && !ReadMembers(iface["methods"], &library.methods_)) return std::nullopt;
    if (iface.contains("properties") && !ReadMembers(iface["properties"], &library.properties_)) {
      return std::nullopt;
    }
    if (iface.contains("events") && !ReadMembers(iface["events"], &library.events_)) return std::nullopt;
  }
  if (library.methods_.empty()) return std::nullopt;
  return library;
}

const Member* TypeLibrary::Method(std::string_view name) const { return ByName(methods_, name); }
const Member* TypeLibrary::Property(std::string_view name) const { return ByName(properties_, name); }
const Member* TypeLibrary::PropertyById(int dispid) const { return ById(properties_, dispid); }
const Member* TypeLibrary::EventById(int dispid) const { return ById(events_, dispid); }

std::string TypeLibrary::SurfaceJson() const {
  auto type = [](ValueType t) { return t == ValueType::kLong ? "long" : t == ValueType::kString ? "string" : "void"; };
  auto list = [&](const std::vector<Member>& members) {
    json out = json::array();
    for (const Member& m : members) {
      json params = json::array();
      for (const Param& p : m.params) params.push_back({{"name", p.name}, {"type", type(p.type)}});
      out.push_back({{"name", m.name}, {"type", type(m.type)}, {"params", params}});
    }
    return out;
  };
  return json{{"methods", list(methods_)}, {"properties", list(properties_)}, {"events", list(events_)}}.dump();
}

}  // namespace lumvara::webhost
