/* Public API: windows for native hosts: a top-level window to give a player, its message loop and its pixels. */
#ifndef LUMVARA_WINDOW_H
#define LUMVARA_WINDOW_H

#include <lumvara/export.h>

LUMVARA_BEGIN_DECLS

/* A window handle: an opaque value naming a window of the library (a
   top-level window or a child). It is never dereferenced; a handle of a
   destroyed window stays invalid forever, and every call given one fails
   cleanly. This is the window type x_player_setPlayWnd takes. */
typedef struct LumvaraWindowObject* LumvaraWindow;

/* Where a top-level window shows its pixels. */
enum {
  LUMVARA_WINDOW_HEADLESS = 0, /* in memory only; read them with lumvara_window_read_pixels */
  LUMVARA_WINDOW_SDL = 1       /* a desktop window through SDL2 (X11, Wayland; SDL_VIDEODRIVER applies) */
};

/* What a host hears about its top-level window. */
enum {
  LUMVARA_WINDOW_EVENT_CLOSE = 1, /* the user closed it; the window still exists */
  LUMVARA_WINDOW_EVENT_SIZE = 2,  /* new client size in a, b */
  LUMVARA_WINDOW_EVENT_MOUSE = 3, /* button press: a = x | y << 16 (client coordinates),
                                     b = button (1 left, 3 right) | clicks << 8 */
  LUMVARA_WINDOW_EVENT_KEY = 4    /* key press: a = virtual key code (13 Enter, 27 Escape,
                                     letters and digits as upper-case ASCII) */
};

/* Runs on the window's thread, from inside lumvara_window_pump/run. */
typedef void (*LumvaraWindowEventHandler)(LumvaraWindow window, int event, long a, long b, void* context);

/* Creates a visible top-level window of `width` x `height` pixels owned by
   the calling thread, which must pump its messages. `kind` is one of
   LUMVARA_WINDOW_*; `title` is UTF-8 and may be null. Null when the kind is
   unknown, a size is not in 1 ... 16384, or SDL cannot open a window. All
   SDL windows of a process must be created on one thread. */
LUMVARA_API LumvaraWindow lumvara_window_create(int kind, const char* title, int width, int height);

/* Creates a visible child window at x, y (parent's client coordinates), for
   example to give a player part of a host window. Null on failure. */
LUMVARA_API LumvaraWindow lumvara_window_create_child(LumvaraWindow parent, int x, int y, int width, int height);

/* Destroys a window made by this API and its children. Call it on the
   window's thread. Returns 1, or 0 for an invalid handle. */
LUMVARA_API int lumvara_window_destroy(LumvaraWindow window);

/* Installs the host's handler for a top-level window (null removes it).
   Returns 1, or 0 for an invalid handle. */
LUMVARA_API int lumvara_window_set_event_handler(LumvaraWindow window, LumvaraWindowEventHandler handler,
                                                 void* context);

/* Dispatches the calling thread's window messages (library windows, players'
   repaints, timers), waiting at most `timeout_ms` for the first one.
   Returns 1, or 0 once lumvara_window_quit was called on this thread. */
LUMVARA_API int lumvara_window_pump(int timeout_ms);

/* Pumps until lumvara_window_quit is called on this thread or `window` is
   closed by the user or destroyed. Returns 1 when the window was closed or
   destroyed, 0 after quit or for an invalid handle. */
LUMVARA_API int lumvara_window_run(LumvaraWindow window);

/* Makes the calling thread's lumvara_window_run / pump return 0. */
LUMVARA_API void lumvara_window_quit(void);

/* Client size and position (x, y on the screen; any pointer may be null).
   Returns 1, or 0 for an invalid handle. */
LUMVARA_API int lumvara_window_get_rect(LumvaraWindow window, int* x, int* y, int* width, int* height);

/* Moves and resizes a window. Returns 1, or 0 on failure. */
LUMVARA_API int lumvara_window_set_rect(LumvaraWindow window, int x, int y, int width, int height);

/* Replaces a window's title (UTF-8; null is the empty title); a desktop
   window shows it in its title bar. Returns 1, or 0 for an invalid handle. */
LUMVARA_API int lumvara_window_set_title(LumvaraWindow window, const char* title);

/* Full screen (1) or back to a normal window (0) for a top-level desktop
   window: it covers its screen without borders, and 0 gives it back its
   borders and its earlier rectangle; the host hears the new size
   (LUMVARA_WINDOW_EVENT_SIZE) as for any resize. Call it on the window's
   thread. Returns 1 (also when the window already is so), or 0 for an
   invalid handle, a child window or a window whose kind has no screen to
   fill (headless). */
LUMVARA_API int lumvara_window_set_fullscreen(LumvaraWindow window, int on);

/* Shows (1) or hides (0) a window. Returns 1, or 0 for an invalid handle. */
LUMVARA_API int lumvara_window_show(LumvaraWindow window, int visible);

/* Copies a top-level window's pixels into `buffer` as 32-bit pixels, bytes
   blue, green, red, unused, `pitch` bytes per row (0 or anything less than
   width x 4 means rows of exactly width x 4 bytes). `capacity` is the
   buffer's size in bytes. Returns the number of bytes the picture needs
   (pitch x height); when `buffer` is null or too small nothing is copied.
   Returns 0 for an invalid handle or a child window; width and height
   (either may be null) receive the size. */
LUMVARA_API long lumvara_window_read_pixels(LumvaraWindow window, void* buffer, long capacity, int pitch, int* width,
                                            int* height);

/* How many times a top-level window's pixels have been drawn on since it was
   created; a host that shows them elsewhere (a web page) copies them again
   only when the number moves. 0 for an invalid handle or a child window. */
LUMVARA_API unsigned long lumvara_window_changes(LumvaraWindow window);

/* When the camera frame last drawn into a top-level window's pixels reached
   its player (the moment x_player_inputNetFrame received it), in
   milliseconds since the Unix epoch on CLOCK_REALTIME, with fractions. It
   changes together with the pixels, so a host that sends the pixels
   elsewhere can tell how old the picture is. Drawing that shows no camera
   frame (backgrounds, texts) leaves it as it was. 0 when no camera frame has
   been drawn into the window, for an invalid handle or a child window. Any
   thread. */
LUMVARA_API double lumvara_window_frame_input_time(LumvaraWindow window);

/* The screen size the library's windows see (a control's full-screen view
   covers it), for a host that shows the pixels elsewhere: a web page's
   screen, say. Process-wide; the SDL presenter sets it from its desktop.
   Any thread. 1, or 0 when a size is not in 1 ... 16384. */
LUMVARA_API int lumvara_window_set_screen_size(int width, int height);

/* Input from a host that shows the pixels elsewhere: delivered as a desktop
   click or key would be. A mouse press at x, y of the top-level window's
   client area goes to the window under it (button 1 left, 3 right; clicks 2
   for a double click); a key (virtual key code) goes to the window that has
   the focus. Any thread. Returns 1, or 0 for an invalid handle, a child
   window or an unknown button. */
LUMVARA_API int lumvara_window_send_mouse(LumvaraWindow window, int x, int y, int button, int clicks);
LUMVARA_API int lumvara_window_send_key(LumvaraWindow window, int virtual_key);

LUMVARA_END_DECLS

#endif
