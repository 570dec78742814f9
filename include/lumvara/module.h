/* Public API: the module as a whole. Its registration entry points (what
   lumvara-regsvr calls), its class objects and unload check, the registry
   queries hosts make before they create or script a control, and the
   control's property page. */
#ifndef LUMVARA_MODULE_H
#define LUMVARA_MODULE_H

#include <lumvara/export.h>
#include <lumvara/window.h>

#include <stdint.h>

LUMVARA_BEGIN_DECLS

/* Result codes (HRESULT values; compare with these names, print the low 32
   bits in hexadecimal). */
#define LUMVARA_S_OK 0 /* the same definition as in audio.h and control.h */
#define LUMVARA_S_FALSE 1L
#define LUMVARA_E_NOINTERFACE ((long)0x80004002L)
#define LUMVARA_E_POINTER ((long)0x80004003L)
#define LUMVARA_E_FAIL ((int)0x80004005u) /* the same definition as in audio.h */
#define LUMVARA_E_ACCESSDENIED ((long)0x80070005L)
#define LUMVARA_E_INVALIDARG ((long)0x80070057L)
#define LUMVARA_E_OUTOFMEMORY ((long)0x8007000EL)
#define LUMVARA_CLASS_E_CLASSNOTAVAILABLE ((long)0x80040111L)
#define LUMVARA_SELFREG_E_TYPELIB ((long)0x80040200L)
#define LUMVARA_SELFREG_E_CLASS ((long)0x80040201L)

/* The property page's ProgID (the control's is LUMVARA_CONTROL_PROGID in
   control.h). */
#define LUMVARA_PROPPAGE_PROGID "LUMVARA.LumvaraPropPage.1"

/* A class, interface or category identifier, laid out as on the wire. */
typedef struct LumvaraGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} LumvaraGuid;
LUMVARA_STATIC_ASSERT(sizeof(LumvaraGuid) == 16, "LumvaraGuid is 16 bytes");

/* ---- Registration -------------------------------------------------------

   The registry is a per-user text file: $LUMVARA_REGISTRY, else
   $XDG_DATA_HOME/lumvara/registry, else ~/.local/share/lumvara/registry
   (the format is described at the top of the file itself and in the
   README). Registration runs on the caller's thread, never while controls
   exist, and stops at the first failing step; what was registered before
   stays registered. */

/* Registers, in this order: the type library LumvaraLib 1.0 (its JSON is
   written beside the registry file), the control's and the property page's
   classes and ProgIDs (module path, apartment threading, type names, misc
   status, type library), the category "safe for initialising" with its
   description and the control's class as implementing it, then the same for
   "safe for scripting". LUMVARA_S_OK (0); LUMVARA_SELFREG_E_TYPELIB when
   the type library cannot be registered; LUMVARA_SELFREG_E_CLASS when a
   class cannot; otherwise the failing category step's code
   (LUMVARA_E_ACCESSDENIED, LUMVARA_E_FAIL). */
LUMVARA_API long DllRegisterServer(void);

/* Removes the two implemented categories from the control's class, then the
   type library, then both classes and ProgIDs. The categories themselves
   stay registered. LUMVARA_S_OK; LUMVARA_E_FAIL when the control's class is
   not registered (so a second call fails and changes nothing);
   LUMVARA_SELFREG_E_TYPELIB, LUMVARA_SELFREG_E_CLASS as above. */
LUMVARA_API long DllUnregisterServer(void);

/* ---- Class objects --------------------------------------------------------

   A class factory, laid out as a COM IClassFactory: a pointer to a table of
   calls, each taking the factory first. The module owns its factories; they
   exist while it is loaded. AddRef/Release count references (every
   DllGetClassObject and QueryInterface adds one). */
typedef struct LumvaraClassFactory LumvaraClassFactory;
typedef struct LumvaraClassFactoryVtbl {
  /* IUnknown and IClassFactory identifiers give the factory itself. */
  long (*QueryInterface)(LumvaraClassFactory* self, const LumvaraGuid* iid, void** object);
  unsigned long (*AddRef)(LumvaraClassFactory* self);
  unsigned long (*Release)(LumvaraClassFactory* self);
  /* Creates an instance as a child window of `parent`, on the calling
     thread, which becomes its window thread. For the control's class
     `*object` receives a LumvaraControl (the caller frees it with
     lumvara_control_destroy); for the property page's class a LumvaraWindow
     (freed with lumvara_window_destroy). LUMVARA_S_OK, LUMVARA_E_POINTER
     (null `object`), LUMVARA_E_INVALIDARG (not a window, a size outside
     1 ... 16384), LUMVARA_E_FAIL; `*object` is null on failure. */
  long (*CreateInstance)(LumvaraClassFactory* self, LumvaraWindow parent, int x, int y, int width, int height,
                         void** object);
  /* Nonzero locks the module in memory (DllCanUnloadNow says S_FALSE),
     zero releases one lock. LUMVARA_S_OK. */
  long (*LockServer)(LumvaraClassFactory* self, int lock);
} LumvaraClassFactoryVtbl;
struct LumvaraClassFactory {
  const LumvaraClassFactoryVtbl* lpVtbl;
};

/* The class factory of `clsid` (the control's or the property page's) for
   interface `iid` (IUnknown or IClassFactory); the caller releases it. The
   factory of the control's class is the one lumvara_control_create uses.
   LUMVARA_S_OK, LUMVARA_E_POINTER, LUMVARA_CLASS_E_CLASSNOTAVAILABLE,
   LUMVARA_E_NOINTERFACE; `*object` is null on failure. Any thread. */
LUMVARA_API long DllGetClassObject(const LumvaraGuid* clsid, const LumvaraGuid* iid, void** object);

/* LUMVARA_S_OK when no control or property page exists and no lock is held
   (the module may be unloaded), else LUMVARA_S_FALSE. Any thread. */
LUMVARA_API long DllCanUnloadNow(void);

/* Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, either
   case). 1, or 0 for malformed text. */
LUMVARA_API int lumvara_guid_parse(const char* text, LumvaraGuid* guid);

/* The class id of the control's or the property page's ProgID. 1, or 0 for
   any other ProgID. Needs no registration. */
LUMVARA_API int lumvara_module_class_id(const char* progid, LumvaraGuid* clsid);

/* ---- Registry queries for hosts ------------------------------------------- */

enum {
  LUMVARA_REGISTRY_REGISTERED = 1,           /* ProgID -> class -> in-process server */
  LUMVARA_REGISTRY_SAFE_FOR_SCRIPTING = 2,   /* the class implements that category */
  LUMVARA_REGISTRY_SAFE_FOR_INITIALIZING = 4 /* the class implements that category */
};

/* What the registry says about `progid`: LUMVARA_REGISTRY_* bits, 0 when
   it is not registered (or the registry cannot be read, or `progid` is
   null). The category bits are only given for a registered ProgID. Reads
   the file on every call. Any thread. */
LUMVARA_API int lumvara_registry_query(const char* progid);

/* 1 when `progid` is registered and marked safe both for scripting and for
   initialising: a host that serves pages creates a control for a page only
   then. 0 otherwise. Any thread. */
LUMVARA_API int lumvara_registry_is_safe(const char* progid);

/* ---- The property page ------------------------------------------------------

   The control's only page: caption "常规", one static hint text and no
   settings. Hosts show it on the control's properties verb. */

/* The page's caption (UTF-8). Static storage. */
LUMVARA_API const char* lumvara_property_page_caption(void);

/* Creates the page as a visible child window of `parent` at x, y with the
   given size, owned by the calling thread (which pumps its messages). Free
   it with lumvara_window_destroy. Null when `parent` is not a window or the
   size is outside 1 ... 16384. */
LUMVARA_API LumvaraWindow lumvara_property_page_create(LumvaraWindow parent, int x, int y, int width, int height);

LUMVARA_END_DECLS

#endif
