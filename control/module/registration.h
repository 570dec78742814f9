#pragma once
// The registration steps over the per-user registry file, each one its own
// read-modify-write of the file (so a failing step leaves the earlier ones
// in place): the type library, the two classes' entries, and the component
// category calls. Results are HRESULT values (module.h).
//
// What the registry holds after registration (keys; "@" is a key's default
// value):
//   CLSID/{control}                        @ "Lumvara Control"
//     Control                              (marker)
//     InprocServer32                       @ module path, ThreadingModel "Apartment"
//     MiscStatus                           @ "0"
//     MiscStatus/1                         @ "131473"
//     ProgID                               @ "LUMVARA.LumvaraCtrl.1"
//     ToolboxBitmap32                      @ "<module path>, 1"
//     TypeLib                              @ {library}
//     Version                              @ "1.0"
//     Implemented Categories/{category}    (one marker per category)
//   CLSID/{page}                           @ "Lumvara Property Page"
//     InprocServer32, ProgID               as above
//   LUMVARA.LumvaraCtrl.1, LUMVARA.LumvaraPropPage.1
//                                          @ type name; CLSID @ {class}
//   TypeLib/{library}/1.0                  @ "LumvaraLib"
//     0/json                               @ path of the type library's JSON
//     FLAGS @ "0", HELPDIR @ the JSON's folder
//   Interface/{interface}                  @ name; TypeLib @ {library}, Version "1.0"
//   Component Categories/{category}        409 = description

#include <string>

namespace lumvara::control {

// The registry file every step uses ($LUMVARA_REGISTRY and so on), read when
// called.
std::string RegistryFile();
// The absolute path of the shared library this code is in.
std::string ModulePath();
// Where the type library's JSON is written: beside the registry file.
std::string TypeLibraryFile(const std::string& registry_file);

// Writes the type library's JSON and its registry entries; false on failure.
bool RegisterTypeLibrary(const std::string& registry_file);
// Removes them; false when the library is not registered or the file cannot
// be written.
bool UnregisterTypeLibrary(const std::string& registry_file);

// The class factories' registry updates (register true writes, false
// removes); false on failure. Removing a class that is not registered fails.
bool UpdateControlRegistry(const std::string& registry_file, bool register_class, const std::string& module);
bool UpdatePropPageRegistry(const std::string& registry_file, bool register_class, const std::string& module);

// The component category manager's calls. S_OK, E_FAIL (the class to
// unregister from does not exist), or the file's failure (E_ACCESSDENIED for
// a permission or read-only refusal, E_FAIL otherwise).
long RegisterCategory(const std::string& registry_file, const char* catid, unsigned locale, const std::string& text);
long RegisterClassImplCategory(const std::string& registry_file, const char* clsid, const char* catid);
long UnregisterClassImplCategory(const std::string& registry_file, const char* clsid, const char* catid);

// What lumvara_registry_query answers (LUMVARA_REGISTRY_* bits).
int QueryProgId(const std::string& registry_file, const char* progid);

}  // namespace lumvara::control
