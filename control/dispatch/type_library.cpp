// The type library as JSON and as a TypeScript declaration, both written
// from the member table.
#include "control/dispatch/type_library.h"

#include <cstdio>
#include <string_view>

#include <lumvara/control.h>

#include "control/dispatch/dispatch_table.h"
#include "control/dispatch/guids.h"

namespace lumvara::control {

namespace {

const char* IdlTypeName(VarType type) {
  switch (type) {
    case VarType::kI4:
      return "long";
    case VarType::kBstr:
      return "string";
    case VarType::kEmpty:
      break;
  }
  return "void";
}

const char* TypeScriptTypeName(VarType type) {
  switch (type) {
    case VarType::kI4:
      return "number";
    case VarType::kBstr:
      return "string";
    case VarType::kEmpty:
      break;
  }
  return "void";
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string JsonTypeFields(const char* key, VarType type) {
  return JsonString(key) + ": " + JsonString(IdlTypeName(type)) + ", \"vt\": " + std::to_string(static_cast<int>(type));
}

std::string JsonParams(std::span<const ParamInfo> params) {
  std::string out = "[";
  for (size_t i = 0; i < params.size(); ++i) {
    const ParamInfo& p = params[i];
    out += i ? ", " : "";
    out += "{\"name\": " + JsonString(p.name) + ", " + JsonTypeFields("type", p.type);
    if (p.type == VarType::kBstr && p.maxBytes != kUnboundedText) {
      out += ", \"maxBytes\": " + std::to_string(p.maxBytes);
    }
    out += "}";
  }
  return out + "]";
}

std::string JsonMember(const MemberInfo& m) {
  std::string out = "        {\"name\": " + JsonString(m.name) + ", \"dispid\": " + std::to_string(m.dispid);
  switch (m.kind) {
    case MemberKind::kMethod:
      out += ", " + JsonTypeFields("result", m.type) + ", \"params\": " + JsonParams(m.params);
      break;
    case MemberKind::kProperty:
      out += ", " + JsonTypeFields("type", m.type) + ", \"access\": \"readwrite\"";
      break;
    case MemberKind::kEvent:
      out += ", \"params\": " + JsonParams(m.params);
      break;
  }
  if (*m.help) out += ", \"help\": " + JsonString(m.help);
  return out + "}";
}

std::string JsonMemberList(const char* key, std::span<const MemberInfo> members, MemberKind kind) {
  std::string out = std::string("      ") + JsonString(key) + ": [\n";
  bool first = true;
  for (const MemberInfo& m : members) {
    if (m.kind != kind) continue;
    out += first ? "" : ",\n";
    out += JsonMember(m);
    first = false;
  }
  return out + "\n      ]";
}

std::string BuildJson() {
  const std::string version = std::to_string(kTypeLibraryMajor) + "." + std::to_string(kTypeLibraryMinor);
  std::string out = "{\n";
  out += "  \"name\": " + JsonString(kTypeLibraryName) + ",\n";
  out += "  \"version\": " + JsonString(version) + ",\n";
  out += "  \"guid\": " + JsonString(kTypeLibraryGuid) + ",\n";
  out += "  \"interfaces\": [\n";
  out += "    {\n      \"name\": " + JsonString(kDispatchInterfaceName) +
         ",\n      \"guid\": " + JsonString(kDispatchInterfaceGuid) + ",\n      \"kind\": \"dispatch\",\n";
  out += JsonMemberList("methods", InterfaceMembers(), MemberKind::kMethod) + ",\n";
  out += JsonMemberList("properties", InterfaceMembers(), MemberKind::kProperty) + "\n    },\n";
  out += "    {\n      \"name\": " + JsonString(kEventInterfaceName) +
         ",\n      \"guid\": " + JsonString(kEventInterfaceGuid) + ",\n      \"kind\": \"events\",\n";
  out += JsonMemberList("events", EventMembers(), MemberKind::kEvent) + "\n    }\n";
  out += "  ],\n";
  out += "  \"classes\": [\n";
  out += "    {\"name\": " + JsonString(kControlClassName) + ", \"guid\": " + JsonString(kControlClassGuid) +
         ", \"progid\": " + JsonString(LUMVARA_CONTROL_PROGID) +
         ", \"interface\": " + JsonString(kDispatchInterfaceName) + ", \"events\": " + JsonString(kEventInterfaceName) +
         "}\n";
  out += "  ]\n}\n";
  return out;
}

std::string TypeScriptParams(std::span<const ParamInfo> params) {
  std::string out;
  for (size_t i = 0; i < params.size(); ++i) {
    out += i ? ", " : "";
    out += std::string(params[i].name) + ": " + TypeScriptTypeName(params[i].type);
  }
  return out;
}

std::string TypeScriptEventDetail(std::span<const ParamInfo> params) {
  std::string out = "{ ";
  for (const ParamInfo& p : params) out += std::string(p.name) + ": " + TypeScriptTypeName(p.type) + "; ";
  return out + "}";
}

}  // namespace

const char* TypeLibraryJson() {
  static const std::string json = BuildJson();
  return json.c_str();
}

std::string TypeLibraryTypeScript() {
  const std::string version = std::to_string(kTypeLibraryMajor) + "." + std::to_string(kTypeLibraryMinor);
  std::string out;
  out += "// " + std::string(kTypeLibraryName) + " " + version + " " + kTypeLibraryGuid +
         ": the camera control as lumvara.js presents it to a page.\n";
  out += "// Generated from the control's member table; do not edit.\n\n";
  out += "/** Arguments of the control's events, as the detail of their DOM events. */\n";
  out += "export interface LumvaraEventMap {\n";
  for (const MemberInfo& e : EventMembers()) {
    out += "  " + std::string(e.name) + ": CustomEvent<" + TypeScriptEventDetail(e.params) + ">;\n";
  }
  out += "}\n\n";
  out += "/** " + std::string(kDispatchInterfaceName) + " " + kDispatchInterfaceGuid + ", class " + kControlClassName +
         " " + kControlClassGuid + " (" + LUMVARA_CONTROL_PROGID + ").\n";
  out += " *  Methods return Promises of their results; properties mirror the control's\n";
  out += " *  values; events arrive as DOM events and through the on<Event> handlers. */\n";
  out += "export interface " + std::string(kControlClassName) + " extends EventTarget {\n";
  for (const MemberInfo& m : InterfaceMembers()) {
    if (m.kind != MemberKind::kMethod) continue;
    if (*m.help) out += "  /** " + std::string(m.help) + " */\n";
    out += "  " + std::string(m.name) + "(" + TypeScriptParams(m.params) + "): Promise<" + TypeScriptTypeName(m.type) +
           ">;\n";
  }
  out += "\n";
  for (const MemberInfo& m : InterfaceMembers()) {
    if (m.kind != MemberKind::kProperty) continue;
    out += "  " + std::string(m.name) + ": " + TypeScriptTypeName(m.type) + ";\n";
  }
  out += "\n";
  for (const MemberInfo& e : EventMembers()) {
    out += "  on" + std::string(e.name) + ": ((" + TypeScriptParams(e.params) + ") => void) | null;\n";
  }
  // The typed overloads, then EventTarget's own so the interface still
  // extends it (other event names: "propertychange", "error").
  out +=
      "\n  addEventListener<K extends keyof LumvaraEventMap>(type: K, listener: (event: LumvaraEventMap[K]) => void, "
      "options?: boolean | AddEventListenerOptions): void;\n";
  out +=
      "  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, "
      "options?: boolean | AddEventListenerOptions): void;\n";
  out +=
      "  removeEventListener<K extends keyof LumvaraEventMap>(type: K, listener: (event: LumvaraEventMap[K]) => void, "
      "options?: boolean | EventListenerOptions): void;\n";
  out +=
      "  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null, "
      "options?: boolean | EventListenerOptions): void;\n";
  out += "}\n\n";
  out += "/** DISPIDs by name, as the type library numbers them. */\n";
  out += "export type LumvaraDispid = {\n";
  for (const MemberInfo& m : InterfaceMembers())
    out += "  " + std::string(m.name) + ": " + std::to_string(m.dispid) + ";\n";
  out += "};\n";
  return out;
}

}  // namespace lumvara::control
