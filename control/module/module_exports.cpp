// The module's exports: registration, class objects, the unload check, the
// registry queries and the property page.
#include <lumvara/control.h>
#include <lumvara/module.h>

#include <cstring>
#include <string>

#include "control/dispatch/guids.h"
#include "control/module/class_factory.h"
#include "control/module/guid.h"
#include "control/module/module_ids.h"
#include "control/module/prop_page.h"
#include "control/module/registration.h"

using namespace lumvara::control;

namespace {

// A category and the class as implementing it: two calls of the category
// manager, each its own step.
long RegisterSafeCategory(const std::string& file, const char* catid, const char* text) {
  const long registered = RegisterCategory(file, catid, kCategoryLocale, text);
  if (registered != 0) return registered;
  return RegisterClassImplCategory(file, kControlClassGuid, catid);
}

}  // namespace

extern "C" {

LUMVARA_API long DllRegisterServer(void) {
  const std::string file = RegistryFile();
  const std::string module = ModulePath();
  if (!RegisterTypeLibrary(file)) return LUMVARA_SELFREG_E_TYPELIB;
  if (!UpdateControlRegistry(file, true, module) || !UpdatePropPageRegistry(file, true, module)) {
    return LUMVARA_SELFREG_E_CLASS;
  }
  const long initializing = RegisterSafeCategory(file, kCatidSafeForInitializing, kSafeForInitializingText);
  if (initializing != 0) return initializing;
  return RegisterSafeCategory(file, kCatidSafeForScripting, kSafeForScriptingText);
}

LUMVARA_API long DllUnregisterServer(void) {
  const std::string file = RegistryFile();
  for (const char* catid : {kCatidSafeForInitializing, kCatidSafeForScripting}) {
    const long removed = UnregisterClassImplCategory(file, kControlClassGuid, catid);
    if (removed != 0) return removed;
  }
  if (!UnregisterTypeLibrary(file)) return LUMVARA_SELFREG_E_TYPELIB;
  // Both factories are asked, as a framework asks every one; the first
  // failure is the result.
  const bool control = UpdateControlRegistry(file, false, "");
  const bool page = UpdatePropPageRegistry(file, false, "");
  return control && page ? 0 : LUMVARA_SELFREG_E_CLASS;
}

LUMVARA_API long DllGetClassObject(const LumvaraGuid* clsid, const LumvaraGuid* iid, void** object) {
  if (!object) return LUMVARA_E_POINTER;
  *object = nullptr;
  if (!clsid || !iid) return LUMVARA_E_POINTER;
  CClassFactory* factory = FactoryOf(*clsid);
  if (!factory) return LUMVARA_CLASS_E_CLASSNOTAVAILABLE;
  LumvaraClassFactory* iface = factory->Interface();
  return iface->lpVtbl->QueryInterface(iface, iid, object);
}

LUMVARA_API long DllCanUnloadNow(void) { return ModuleInUse() ? LUMVARA_S_FALSE : 0; }

LUMVARA_API int lumvara_guid_parse(const char* text, LumvaraGuid* guid) { return ParseGuid(text, guid) ? 1 : 0; }

LUMVARA_API int lumvara_module_class_id(const char* progid, LumvaraGuid* clsid) {
  if (!progid || !clsid) return 0;
  if (std::strcmp(progid, kControlProgId) == 0) return ParseGuid(kControlClassGuid, clsid) ? 1 : 0;
  if (std::strcmp(progid, kPropPageProgId) == 0) return ParseGuid(kPropPageClassGuid, clsid) ? 1 : 0;
  return 0;
}

LUMVARA_API int lumvara_registry_query(const char* progid) { return QueryProgId(RegistryFile(), progid); }

LUMVARA_API int lumvara_registry_is_safe(const char* progid) {
  constexpr int kSafe =
      LUMVARA_REGISTRY_REGISTERED | LUMVARA_REGISTRY_SAFE_FOR_SCRIPTING | LUMVARA_REGISTRY_SAFE_FOR_INITIALIZING;
  return (lumvara_registry_query(progid) & kSafe) == kSafe ? 1 : 0;
}

LUMVARA_API const char* lumvara_property_page_caption(void) { return kPropPageCaption; }

LUMVARA_API LumvaraWindow lumvara_property_page_create(LumvaraWindow parent, int x, int y, int width, int height) {
  void* page = nullptr;
  PropPageClassFactory().CreateInstance(parent, x, y, width, height, &page);
  return static_cast<LumvaraWindow>(page);
}

}  // extern "C"
