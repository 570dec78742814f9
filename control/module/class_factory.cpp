#include "control/module/class_factory.h"

#include <cstddef>
#include <type_traits>

#include "control/dispatch/guids.h"
#include "control/live_controls.h"
#include "control/module/guid.h"
#include "control/module/module_ids.h"
#include "control/module/prop_page.h"

namespace lumvara::control {

namespace {

constexpr int kMaxSide = 16384;

std::atomic<long> g_locks{0};

CClassFactory* Self(LumvaraClassFactory* iface) {
  // The call table is the object's first member, so the C pointer is the
  // object's address.
  return reinterpret_cast<CClassFactory*>(iface);
}

long QueryInterfaceCall(LumvaraClassFactory* self, const LumvaraGuid* iid, void** object) {
  if (!object) return LUMVARA_E_POINTER;
  *object = nullptr;
  if (!self || !iid) return LUMVARA_E_POINTER;
  if (!SameGuid(*iid, GuidOf(kIidIUnknown)) && !SameGuid(*iid, GuidOf(kIidIClassFactory))) {
    return LUMVARA_E_NOINTERFACE;
  }
  Self(self)->AddRef();
  *object = self;
  return 0;
}

unsigned long AddRefCall(LumvaraClassFactory* self) { return self ? Self(self)->AddRef() : 0; }
unsigned long ReleaseCall(LumvaraClassFactory* self) { return self ? Self(self)->Release() : 0; }

long CreateInstanceCall(LumvaraClassFactory* self, LumvaraWindow parent, int x, int y, int width, int height,
                        void** object) {
  if (!object) return LUMVARA_E_POINTER;
  *object = nullptr;
  if (!self) return LUMVARA_E_POINTER;
  return Self(self)->CreateInstance(parent, x, y, width, height, object);
}

long LockServerCall(LumvaraClassFactory*, int lock) {
  LockModule(lock != 0);
  return 0;
}

const LumvaraClassFactoryVtbl kFactoryCalls = {QueryInterfaceCall, AddRefCall, ReleaseCall, CreateInstanceCall,
                                               LockServerCall};

long CreateControl(winsys::HWND parent, int x, int y, int width, int height, void** object) {
  LumvaraControl control = CreateHostedControl(parent, x, y, width, height);
  if (!control) return LUMVARA_E_FAIL;
  *object = control;
  return 0;
}

long CreatePropPage(winsys::HWND parent, int x, int y, int width, int height, void** object) {
  winsys::HWND page = CLumvaraPropPage::Create(parent, x, y, width, height);
  if (!page) return LUMVARA_E_FAIL;
  *object = page;
  return 0;
}

}  // namespace

CClassFactory::CClassFactory(const char* clsid, Creator creator)
    : iface_{&kFactoryCalls}, clsid_(clsid), creator_(creator) {
  static_assert(std::is_standard_layout_v<CClassFactory>, "the C view needs a standard layout");
  static_assert(offsetof(CClassFactory, iface_) == 0, "the C view must be the first member");
}

long CClassFactory::CreateInstance(winsys::HWND parent, int x, int y, int width, int height, void** object) {
  if (!object) return LUMVARA_E_POINTER;
  *object = nullptr;
  if (!winsys::IsWindow(parent)) return LUMVARA_E_INVALIDARG;
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return LUMVARA_E_INVALIDARG;
  return creator_(parent, x, y, width, height, object);
}

CClassFactory& ControlClassFactory() {
  static CClassFactory factory(kControlClassGuid, CreateControl);
  return factory;
}

CClassFactory& PropPageClassFactory() {
  static CClassFactory factory(kPropPageClassGuid, CreatePropPage);
  return factory;
}

CClassFactory* FactoryOf(const LumvaraGuid& clsid) {
  for (CClassFactory* factory : {&ControlClassFactory(), &PropPageClassFactory()}) {
    if (SameGuid(clsid, GuidOf(factory->ClassId()))) return factory;
  }
  return nullptr;
}

void LockModule(bool lock) {
  if (lock) {
    g_locks.fetch_add(1);
    return;
  }
  // An unbalanced unlock does not go below zero.
  long locks = g_locks.load();
  while (locks > 0 && !g_locks.compare_exchange_weak(locks, locks - 1)) {
  }
}

bool ModuleInUse() { return LiveControlCount() > 0 || CLumvaraPropPage::LiveCount() > 0 || g_locks.load() > 0; }

}  // namespace lumvara::control
