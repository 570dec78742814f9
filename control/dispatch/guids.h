#pragma once
// The fixed identifiers of the control's type library, its two interfaces and
// its class. Registration, the type library and every host read them here.

namespace lumvara::control {

inline constexpr char kTypeLibraryName[] = "LumvaraLib";
inline constexpr int kTypeLibraryMajor = 1;
inline constexpr int kTypeLibraryMinor = 0;
inline constexpr char kTypeLibraryGuid[] = "{2EB21AB3-E99F-4ADE-9DFC-93D095B1F79C}";

// The dispatch interface scripts call.
inline constexpr char kDispatchInterfaceName[] = "_DLumvara";
inline constexpr char kDispatchInterfaceGuid[] = "{5C8EDDC9-261B-4E6C-9536-C9494FFE052C}";

// The event interface the control sources.
inline constexpr char kEventInterfaceName[] = "_DLumvaraEvents";
inline constexpr char kEventInterfaceGuid[] = "{BB0AA81B-C334-43E0-AEC5-E53323D0FE38}";

// The control class; registered under the ProgID LUMVARA_CONTROL_PROGID.
inline constexpr char kControlClassName[] = "Lumvara";
inline constexpr char kControlClassGuid[] = "{7CD2AB4E-B51E-4991-8E56-E2280557CDD9}";

}  // namespace lumvara::control
