/* Public API: hosting the camera control. Every host (the native viewer, the
   web host, a user's program) embeds the control through these calls. */
#ifndef LUMVARA_CONTROL_H
#define LUMVARA_CONTROL_H

#include <lumvara/export.h>
#include <lumvara/window.h>

#include <stdint.h>

LUMVARA_BEGIN_DECLS

/* The ProgID lumvara_control_create accepts. */
#define LUMVARA_CONTROL_PROGID "LUMVARA.LumvaraCtrl.1"

/* Result codes of lumvara_control_invoke. */
#define LUMVARA_S_OK 0 /* the same definition as in audio.h */
#define LUMVARA_DISP_E_MEMBERNOTFOUND ((long)0x80020003L)
#define LUMVARA_DISP_E_TYPEMISMATCH ((long)0x80020005L)
#define LUMVARA_DISP_E_BADPARAMCOUNT ((long)0x8002000EL)
/* The handle names no control (never created, or destroyed). */
#define LUMVARA_E_INVALIDHANDLE ((long)0x80070006L)
/* Called from a thread other than the control's window thread. */
#define LUMVARA_RPC_E_WRONG_THREAD ((long)0x8001010EL)

/* One control: a camera view with its own window. Opaque. */
typedef struct LumvaraControlObject* LumvaraControl;

/* Variant types: nothing, a 32-bit integer, a UTF-8 string. */
enum { LUMVARA_VT_EMPTY = 0, LUMVARA_VT_I4 = 3, LUMVARA_VT_BSTR = 8 };

/* An argument or a result. For LUMVARA_VT_BSTR, `bstrVal` is a
   NUL-terminated UTF-8 string: in arguments the caller's (read during the
   call only), in results the library's (free it with lumvara_variant_clear). */
typedef struct LumvaraVariant {
  int32_t vt;
  int32_t lVal;
  const char* bstrVal; /* UTF-8 */
} LumvaraVariant;

/* lumvara_control_invoke flags. */
enum { LUMVARA_DISPATCH_METHOD = 1, LUMVARA_DISPATCH_PROPERTYGET = 2, LUMVARA_DISPATCH_PROPERTYPUT = 4 };

/* What an event sink hears. */
enum { LUMVARA_SINK_EVENT = 1, LUMVARA_SINK_PROPERTY_CHANGED = 2 };

/* Runs on the control's window thread. For LUMVARA_SINK_EVENT, `dispid`
   is the event's and `args` its arguments in the order the type library
   declares them; for LUMVARA_SINK_PROPERTY_CHANGED, `dispid` is the
   property's and argc is 0. Strings in `args` live for the call only. */
typedef void (*LumvaraEventSink)(LumvaraControl control, int kind, int dispid, const LumvaraVariant* args, int argc,
                                 void* context);

/* Creates a control as a child window of `parent` at x, y with the given
   size, and runs its window creation (video window, settings file). The
   calling thread becomes the control's window thread: it must pump
   (lumvara_window_pump / lumvara_window_run), and every later call on the
   control, and every event, happens there. `progid` must be
   LUMVARA_CONTROL_PROGID. The caller owns the control and frees it with
   lumvara_control_destroy. Null for another ProgID, a parent that is not a
   window, or a size outside 1 ... 16384. */
LUMVARA_API LumvaraControl lumvara_control_create(const char* progid, LumvaraWindow parent, int x, int y, int width,
                                                  int height);

/* The DISPID of a method, property or event named `name`
   (case-insensitive), or -1 when there is none or the control does not
   exist. Any thread. */
LUMVARA_API int lumvara_control_get_dispid(LumvaraControl control, const char* name);

/* Calls method `dispid` (LUMVARA_DISPATCH_METHOD), reads a property
   (LUMVARA_DISPATCH_PROPERTYGET, argc 0) or writes one
   (LUMVARA_DISPATCH_PROPERTYPUT, one argument). Arguments are in the order
   the type library declares them. Strings are cut at a character boundary
   to the field they fill. `result` (may be null) receives the method's
   result or the property's value; a string result must be freed with
   lumvara_variant_clear. Window thread only. 0, or
   LUMVARA_DISP_E_MEMBERNOTFOUND (no such DISPID, or a property called as a
   method and so on), LUMVARA_DISP_E_BADPARAMCOUNT, LUMVARA_DISP_E_TYPEMISMATCH,
   LUMVARA_E_INVALIDHANDLE, LUMVARA_RPC_E_WRONG_THREAD; on an error nothing
   runs and `result` is emptied. The control's event sink may call this
   (a method called from inside an event runs at once). */
LUMVARA_API long lumvara_control_invoke(LumvaraControl control, int dispid, int flags, const LumvaraVariant* args,
                                        int argc, LumvaraVariant* result);

/* Sets the one event sink (null removes it). Window thread only. 1, or 0
   for a control that does not exist or a call from another thread. */
LUMVARA_API int lumvara_control_advise(LumvaraControl control, LumvaraEventSink sink, void* context);

/* The control's own window (a child of the parent given at creation), or
   null. */
LUMVARA_API LumvaraWindow lumvara_control_window(LumvaraControl control);

/* The control's video window: a child of lumvara_control_window, except
   between ShowMax and ShowNormal, when it is a top-level window covering
   the screen whose pixels a host that shows them elsewhere reads instead
   (lumvara_window_read_pixels fails on it while it is a child). Null for a
   control that does not exist. Window thread only. */
LUMVARA_API LumvaraWindow lumvara_control_video_window(LumvaraControl control);

/* Frees a string a result holds and empties the variant. */
LUMVARA_API void lumvara_variant_clear(LumvaraVariant* value);

/* Tears the control down: its window (and the video window, also when it is
   shown full screen), then the StopVideo path (talk, camera, player). No
   event or property change is reported from here. Window thread only. 1, or
   0 for a control that does not exist, a call from another thread, or a
   call from inside the control's event sink (destroy it after the sink has
   returned). */
LUMVARA_API int lumvara_control_destroy(LumvaraControl control);

/* The type library as JSON: the library, its interfaces and class with
   their GUIDs, every method, property and event with DISPIDs, parameter
   names and types. Static storage; do not free. */
LUMVARA_API const char* lumvara_control_type_library(void);

LUMVARA_END_DECLS

#endif
