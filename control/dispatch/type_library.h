#pragma once
// The type library LumvaraLib 1.0, generated from the member table: JSON for
// hosts (what lumvara_control_type_library returns) and a TypeScript
// declaration for pages that drive a control through lumvara.js.

#include <string>

namespace lumvara::control {

// The JSON text; built once, static storage, never freed. Any thread.
const char* TypeLibraryJson();

// The TypeScript declaration file (lumvara.d.ts): an interface whose methods
// return Promises of their results, with the properties and the on<Event>
// handlers.
std::string TypeLibraryTypeScript();

}  // namespace lumvara::control
