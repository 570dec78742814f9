#pragma once
// The module's class objects: one factory for the control's class and one
// for the property page's, each a LumvaraClassFactory (module.h) whose first
// member is the C-visible call table. Both are static objects that exist
// while the module is loaded; their reference counts are kept for the
// callers' sake only (Release never frees them).

#include <lumvara/control.h>
#include <lumvara/module.h>

#include <atomic>

#include "platform/winsys/window.h"

namespace lumvara::control {

// Builds a control as a child of `parent` and runs its window creation (the
// hosting code defines it). Null on failure. The calling thread becomes the
// control's window thread.
LumvaraControl CreateHostedControl(winsys::HWND parent, int x, int y, int width, int height);

class CClassFactory {
 public:
  // Creates one instance; the result type depends on the class (module.h).
  using Creator = long (*)(winsys::HWND parent, int x, int y, int width, int height, void** object);

  CClassFactory(const char* clsid, Creator creator);

  LumvaraClassFactory* Interface() { return &iface_; }
  const char* ClassId() const { return clsid_; }
  unsigned long AddRef() { return ++references_; }
  unsigned long Release() { return --references_; }
  long CreateInstance(winsys::HWND parent, int x, int y, int width, int height, void** object);

 private:
  LumvaraClassFactory iface_;  // must stay the first member: the C view of this object
  const char* clsid_;
  Creator creator_;
  std::atomic<unsigned long> references_{0};
};

// The factory lumvara_control_create and DllGetClassObject hand out.
CClassFactory& ControlClassFactory();
CClassFactory& PropPageClassFactory();
// The factory of `clsid`, or null.
CClassFactory* FactoryOf(const LumvaraGuid& clsid);

// LockServer's count.
void LockModule(bool lock);
// True while a control or a property page exists or a lock is held.
bool ModuleInUse();

}  // namespace lumvara::control
