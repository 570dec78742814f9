#include "control/module/registration.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "control/dispatch/guids.h"
#include "control/dispatch/type_library.h"
#include "control/module/module_ids.h"
#include "lumvara/module.h"
#include "platform/log/log.h"
#include "platform/registry/registry.h"

namespace lumvara::control {

namespace {

using registry::KeyPath;
using registry::Registry;

constexpr char kVersion[] = "1.0";

std::string ClassKey(const char* clsid) { return KeyPath({"CLSID", clsid}); }
std::string ImplementedKey(const char* clsid, const char* catid) {
  return KeyPath({"CLSID", clsid, "Implemented Categories", catid});
}
std::string TypeLibKey() { return KeyPath({"TypeLib", kTypeLibraryGuid, kVersion}); }

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

long ResultOfErrno(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? LUMVARA_E_ACCESSDENIED : LUMVARA_E_FAIL;
}

// Runs one step's change under the file's lock; logs a file failure.
bool Step(const std::string& file, const char* what, const std::function<bool(Registry&)>& change,
          int* error = nullptr) {
  int failure = 0;
  const bool ok = registry::Update(file, change, &failure);
  if (!ok) logf("registration: %s: %s (%s)\n", what, std::strerror(failure), file.c_str());
  if (error) *error = ok ? 0 : failure;
  return ok;
}

void WriteServerEntries(Registry& r, const char* clsid, const char* progid, const char* type_name,
                        const std::string& module) {
  r.SetValue(ClassKey(clsid), "", type_name);
  r.SetValue(KeyPath({"CLSID", clsid, "InprocServer32"}), "", module);
  r.SetValue(KeyPath({"CLSID", clsid, "InprocServer32"}), "ThreadingModel", kThreadingModel);
  r.SetValue(KeyPath({"CLSID", clsid, "ProgID"}), "", progid);
  r.SetValue(progid, "", type_name);
  r.SetValue(KeyPath({progid, "CLSID"}), "", clsid);
}

bool RemoveServerEntries(Registry& r, const char* clsid, const char* progid) {
  if (!r.HasKey(ClassKey(clsid))) return false;
  r.DeleteKey(ClassKey(clsid));
  // The ProgID goes only when it still names this class.
  if (r.GetValue(KeyPath({progid, "CLSID"})) == std::string(clsid)) r.DeleteKey(progid);
  return true;
}

}  // namespace

std::string RegistryFile() { return registry::RegistryPath(); }

std::string ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return "";
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

std::string TypeLibraryFile(const std::string& registry_file) {
  return FolderOf(registry_file) + "/" + kTypeLibraryName + "-" + kVersion + ".json";
}

bool RegisterTypeLibrary(const std::string& registry_file) {
  if (registry_file.empty()) return false;
  const std::string json_path = TypeLibraryFile(registry_file);
  // The registry's folder first (Update creates it), then the JSON, then its entries.
  bool written = false;
  const bool ok = Step(registry_file, "type library", [&](Registry& r) {
    written = registry::WriteFileAtomically(json_path, TypeLibraryJson());
    if (!written) {
      logf("registration: the type library cannot be written to %s\n", json_path.c_str());
      return false;
    }
    r.DeleteKey(TypeLibKey());
    r.SetValue(TypeLibKey(), "", kTypeLibraryName);
    r.SetValue(KeyPath({TypeLibKey(), "0", "json"}), "", json_path);
    r.SetValue(KeyPath({TypeLibKey(), "FLAGS"}), "", "0");
    r.SetValue(KeyPath({TypeLibKey(), "HELPDIR"}), "", FolderOf(json_path));
    const std::pair<const char*, const char*> interfaces[] = {{kDispatchInterfaceGuid, kDispatchInterfaceName},
                                                              {kEventInterfaceGuid, kEventInterfaceName}};
    for (const auto& [iid, name] : interfaces) {
      const std::string key = KeyPath({"Interface", iid});
      r.DeleteKey(key);
      r.SetValue(key, "", name);
      r.SetValue(KeyPath({key, "TypeLib"}), "", kTypeLibraryGuid);
      r.SetValue(KeyPath({key, "TypeLib"}), "Version", kVersion);
    }
    return true;
  });
  return ok && written;
}

bool UnregisterTypeLibrary(const std::string& registry_file) {
  if (registry_file.empty()) return false;
  bool registered = false;
  std::string json_path;
  const bool ok = Step(registry_file, "type library removal", [&](Registry& r) {
    registered = r.HasKey(TypeLibKey());
    if (!registered) return false;
    json_path = r.GetValue(KeyPath({TypeLibKey(), "0", "json"})).value_or("");
    r.DeleteKey(TypeLibKey());
    const std::string library = KeyPath({"TypeLib", kTypeLibraryGuid});
    if (r.SubKeys(library).empty()) r.DeleteKey(library);
    for (const char* iid : {kDispatchInterfaceGuid, kEventInterfaceGuid}) {
      const std::string key = KeyPath({"Interface", iid});
      if (r.GetValue(KeyPath({key, "TypeLib"})) == std::string(kTypeLibraryGuid)) r.DeleteKey(key);
    }
    return true;
  });
  if (ok && registered && !json_path.empty()) unlink(json_path.c_str());
  return ok && registered;
}

bool UpdateControlRegistry(const std::string& registry_file, bool register_class, const std::string& module) {
  if (registry_file.empty()) return false;
  bool done = false;
  const bool ok = Step(registry_file, "control class", [&](Registry& r) {
    if (!register_class) return done = RemoveServerEntries(r, kControlClassGuid, kControlProgId);
    const char* clsid = kControlClassGuid;
    WriteServerEntries(r, clsid, kControlProgId, kControlTypeName, module);
    r.CreateKey(KeyPath({"CLSID", clsid, "Control"}));
    r.SetValue(KeyPath({"CLSID", clsid, "ToolboxBitmap32"}), "", module + ", " + std::to_string(kToolboxBitmap));
    r.SetValue(KeyPath({"CLSID", clsid, "MiscStatus"}), "", "0");
    r.SetValue(KeyPath({"CLSID", clsid, "MiscStatus", "1"}), "", std::to_string(kControlMiscStatus));
    r.SetValue(KeyPath({"CLSID", clsid, "TypeLib"}), "", kTypeLibraryGuid);
    r.SetValue(KeyPath({"CLSID", clsid, "Version"}), "", kVersion);
    return done = true;
  });
  return ok && done;
}

bool UpdatePropPageRegistry(const std::string& registry_file, bool register_class, const std::string& module) {
  if (registry_file.empty()) return false;
  bool done = false;
  const bool ok = Step(registry_file, "property page class", [&](Registry& r) {
    if (!register_class) return done = RemoveServerEntries(r, kPropPageClassGuid, kPropPageProgId);
    WriteServerEntries(r, kPropPageClassGuid, kPropPageProgId, kPropPageTypeName, module);
    return done = true;
  });
  return ok && done;
}

long RegisterCategory(const std::string& registry_file, const char* catid, unsigned locale, const std::string& text) {
  char locale_name[16];
  std::snprintf(locale_name, sizeof locale_name, "%x", locale);
  // Cut to the limit at a character boundary (UTF-8 continuation bytes stay
  // with their lead byte).
  std::string description;
  unsigned characters = 0;
  for (char c : text) {
    const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
    if (!continuation && characters++ == kMaxCategoryText) break;
    description += c;
  }
  int error = 0;
  const bool ok = Step(
      registry_file, "category",
      [&](Registry& r) {
        r.SetValue(KeyPath({"Component Categories", catid}), locale_name, description);
        return true;
      },
      &error);
  return ok ? 0 : ResultOfErrno(error);
}

long RegisterClassImplCategory(const std::string& registry_file, const char* clsid, const char* catid) {
  int error = 0;
  const bool ok = Step(
      registry_file, "implemented category",
      [&](Registry& r) {
        r.CreateKey(ImplementedKey(clsid, catid));
        return true;
      },
      &error);
  return ok ? 0 : ResultOfErrno(error);
}

long UnregisterClassImplCategory(const std::string& registry_file, const char* clsid, const char* catid) {
  int error = 0;
  bool class_exists = false;
  const bool ok = Step(
      registry_file, "implemented category removal",
      [&](Registry& r) {
        class_exists = r.HasKey(ClassKey(clsid));
        if (!class_exists) return false;
        r.DeleteKey(ImplementedKey(clsid, catid));
        const std::string implemented = KeyPath({"CLSID", clsid, "Implemented Categories"});
        if (r.HasKey(implemented) && r.SubKeys(implemented).empty()) r.DeleteKey(implemented);
        return true;
      },
      &error);
  if (!ok) return ResultOfErrno(error);
  return class_exists ? 0 : LUMVARA_E_FAIL;
}

int QueryProgId(const std::string& registry_file, const char* progid) {
  if (!progid || !*progid || registry_file.empty()) return 0;
  Registry r;
  if (!r.Load(registry_file)) return 0;
  const auto clsid = r.GetValue(KeyPath({progid, "CLSID"}));
  if (!clsid) return 0;
  const auto server = r.GetValue(KeyPath({"CLSID", *clsid, "InprocServer32"}));
  if (!server || server->empty()) return 0;
  int flags = LUMVARA_REGISTRY_REGISTERED;
  if (r.HasKey(ImplementedKey(clsid->c_str(), kCatidSafeForScripting))) flags |= LUMVARA_REGISTRY_SAFE_FOR_SCRIPTING;
  if (r.HasKey(ImplementedKey(clsid->c_str(), kCatidSafeForInitializing))) {
    flags |= LUMVARA_REGISTRY_SAFE_FOR_INITIALIZING;
  }
  return flags;
}

}  // namespace lumvara::control
