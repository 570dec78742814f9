/* lumvara-view: a camera's live video (or an SD-card recording) in a window.

   Written on the public C API only, as the worked example of a program that
   hosts the camera control. The pieces meet like this:

     top-level window (lumvara_window_*)
        | key, size and close events
        v
     this program --calls methods by name--> the control (lumvara_control_*)
        ^           (get_dispid + invoke)        | device, player, sound,
        |                                        | talk, recording, snapshots
        +------ its events (the event sink) -----+

   The control is a child window that covers the top-level window (less the
   property page's panel when that is shown). Every event the sink hears is
   printed on stdout as its name and its arguments ("MessageNotify 2 0"),
   property changes as "PropertyChanged NAME VALUE".

   Threads: main() creates the window and the control and pumps their
   messages; every call on the control and every event happens there. */
#define _XOPEN_SOURCE 700

#include <lumvara/control.h>
#include <lumvara/lumvara.h>

#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "view_options.h"

/* SD playback: with no progress notice for this long the recording has
   ended (or the camera did not know the file). */
#define PLAYBACK_QUIET_MS 3000
/* The stream id that asks the control for its MJPEG player. */
#define MJPEG_STREAM_ID 3
/* The camera's audio stream (the control always asks for it). */
#define CAMERA_AUDIO_STREAM 2
/* MessageNotify's types the viewer follows. */
#define NOTIFY_CONNECTING 2
#define NOTIFY_SD_PROGRESS 10
/* The property page's panel below the video. */
#define PAGE_PANEL_HEIGHT 96
#define DEFAULT_WIDTH 640
#define DEFAULT_HEIGHT 360
/* A picture is in the window once a sample of its pixels holds this many
   colours (the control's own drawing is black, grey and red). */
#define PICTURE_COLOURS 50

static volatile sig_atomic_t g_interrupted = 0;

static void on_signal(int signal_number) {
  (void)signal_number;
  g_interrupted = 1;
}

static long long now_ms(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

/* The control's events and properties by name, for printing what the sink
   hears; the DISPIDs come from the control itself. */
static const char* const kEventNames[] = {"MessageNotify", "OnCameraSearched"};
static const char* const kPropertyNames[] = {"SoundState", "TalkState",  "RecordState",   "VideoState", "RecFilePath",
                                             "RecFileLen", "RecTimeLen", "ReservedSpace", "RecCover"};
#define COUNT(array) (sizeof(array) / sizeof((array)[0]))

typedef struct Viewer {
  ViewOptions options;
  char camera[80]; /* HOST:PORT, for the title and messages */
  LumvaraWindow window;
  LumvaraControl control;
  LumvaraWindow page; /* the property page, while it is shown */
  int event_ids[COUNT(kEventNames)];
  int property_ids[COUNT(kPropertyNames)];
  int full_screen, flip, osd_on;
  int quit;
  int pictures_seen;          /* a camera picture has been in the window */
  long long last_progress_ms; /* SD playback: the latest progress notice, 0 before one */
  unsigned long changes_at_last_second;
  LumvaraWindow counted_window; /* the window whose drawing the title counts */
  double shown_per_second;
  char title[512];
} Viewer;

static int is_playback(const Viewer* viewer) { return viewer->options.sd_file[0] != '\0'; }

static void say(const char* text) {
  printf("lumvara-view: %s\n", text);
  fflush(stdout);
}

static void complain(const char* text) { fprintf(stderr, "lumvara-view: %s\n", text); }

/* ---- Calls on the control, by name --------------------------------------- */

static LumvaraVariant long_arg(int32_t value) {
  LumvaraVariant v;
  v.vt = LUMVARA_VT_I4;
  v.lVal = value;
  v.bstrVal = NULL;
  return v;
}

static LumvaraVariant string_arg(const char* value) {
  LumvaraVariant v;
  v.vt = LUMVARA_VT_BSTR;
  v.lVal = 0;
  v.bstrVal = value;
  return v;
}

/* Calls method `name` and prints "NAME = RESULT" (or just the name for a
   method without a result). Returns the method's integer result, or -1
   when the call itself failed. */
static int32_t call(Viewer* viewer, const char* name, const LumvaraVariant* args, int argc) {
  LumvaraVariant result = {LUMVARA_VT_EMPTY, 0, NULL};
  char text[160];
  const long code = lumvara_control_invoke(viewer->control, lumvara_control_get_dispid(viewer->control, name),
                                           LUMVARA_DISPATCH_METHOD, args, argc, &result);
  int32_t value = result.lVal;
  if (code != LUMVARA_S_OK) {
    snprintf(text, sizeof text, "%s failed: 0x%08lX", name, (unsigned long)code & 0xFFFFFFFFUL);
    complain(text);
    value = -1;
  } else if (result.vt == LUMVARA_VT_I4) {
    snprintf(text, sizeof text, "%s = %d", name, (int)value);
    say(text);
  } else {
    say(name);
  }
  lumvara_variant_clear(&result);
  return value;
}

/* A long property's value (0 when it cannot be read). */
static int32_t get_long(Viewer* viewer, const char* name) {
  LumvaraVariant result = {LUMVARA_VT_EMPTY, 0, NULL};
  int32_t value = 0;
  if (lumvara_control_invoke(viewer->control, lumvara_control_get_dispid(viewer->control, name),
                             LUMVARA_DISPATCH_PROPERTYGET, NULL, 0, &result) == LUMVARA_S_OK &&
      result.vt == LUMVARA_VT_I4) {
    value = result.lVal;
  }
  lumvara_variant_clear(&result);
  return value;
}

/* A string property's value into `out` (empty when it cannot be read). */
static void get_string(Viewer* viewer, const char* name, char* out, size_t size) {
  LumvaraVariant result = {LUMVARA_VT_EMPTY, 0, NULL};
  out[0] = '\0';
  if (lumvara_control_invoke(viewer->control, lumvara_control_get_dispid(viewer->control, name),
                             LUMVARA_DISPATCH_PROPERTYGET, NULL, 0, &result) == LUMVARA_S_OK &&
      result.vt == LUMVARA_VT_BSTR && result.bstrVal != NULL) {
    snprintf(out, size, "%s", result.bstrVal);
  }
  lumvara_variant_clear(&result);
}

/* ---- What the control tells (its event sink) ------------------------------ */

static void print_value(const LumvaraVariant* value) {
  const char* c;
  switch (value->vt) {
    case LUMVARA_VT_I4:
      printf(" %d", (int)value->lVal);
      break;
    case LUMVARA_VT_BSTR:
      /* Quoted, so that a text with spaces stays one argument. */
      putchar(' ');
      putchar('"');
      for (c = value->bstrVal != NULL ? value->bstrVal : ""; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') putchar('\\');
        putchar((unsigned char)*c < 0x20 ? '?' : *c);
      }
      putchar('"');
      break;
    default:
      printf(" -");
      break;
  }
}

static const char* name_of(const int* ids, const char* const* names, size_t count, int dispid) {
  size_t i;
  for (i = 0; i < count; ++i) {
    if (ids[i] == dispid) return names[i];
  }
  return NULL;
}

static void follow_event(Viewer* viewer, const char* name, const LumvaraVariant* args, int argc) {
  if (strcmp(name, "MessageNotify") != 0 || argc < 1 || args[0].vt != LUMVARA_VT_I4) return;
  if (args[0].lVal == NOTIFY_SD_PROGRESS) viewer->last_progress_ms = now_ms();
}

/* Runs on the main thread, inside lumvara_window_pump or inside a call on
   the control. */
static void on_control_event(LumvaraControl control, int kind, int dispid, const LumvaraVariant* args, int argc,
                             void* context) {
  Viewer* viewer = (Viewer*)context;
  const char* name;
  int i;
  (void)control;
  if (kind == LUMVARA_SINK_EVENT) {
    name = name_of(viewer->event_ids, kEventNames, COUNT(kEventNames), dispid);
    if (name != NULL) {
      printf("%s", name);
    } else {
      printf("Event%d", dispid);
    }
    for (i = 0; i < argc; ++i) print_value(&args[i]);
    printf("\n");
    fflush(stdout);
    if (name != NULL) follow_event(viewer, name, args, argc);
    return;
  }
  if (kind == LUMVARA_SINK_PROPERTY_CHANGED) {
    LumvaraVariant value = {LUMVARA_VT_EMPTY, 0, NULL};
    name = name_of(viewer->property_ids, kPropertyNames, COUNT(kPropertyNames), dispid);
    lumvara_control_invoke(viewer->control, dispid, LUMVARA_DISPATCH_PROPERTYGET, NULL, 0, &value);
    if (name != NULL) {
      printf("PropertyChanged %s", name);
    } else {
      printf("PropertyChanged %d", dispid);
    }
    print_value(&value);
    printf("\n");
    fflush(stdout);
    lumvara_variant_clear(&value);
  }
}

/* ---- The viewer (main thread only) -------------------------------------- */

/* The title shows the camera, pictures shown per second and what is on. */
static void update_title(Viewer* viewer) {
  char title[sizeof viewer->title];
  char state[64];
  if (!viewer->pictures_seen) {
    snprintf(state, sizeof state, "%s", is_playback(viewer) ? "opening recording" : "connecting");
  } else {
    snprintf(state, sizeof state, "%.0f fps", viewer->shown_per_second);
  }
  snprintf(title, sizeof title, "lumvara-view %s%s%s - %s - sound %s, talk %s, recording %s", viewer->camera,
           is_playback(viewer) ? " " : "", is_playback(viewer) ? viewer->options.sd_file : "", state,
           get_long(viewer, "SoundState") ? "on" : "off", get_long(viewer, "TalkState") ? "on" : "off",
           get_long(viewer, "RecordState") ? "on" : "off");
  if (strcmp(title, viewer->title) != 0) {
    strcpy(viewer->title, title);
    lumvara_window_set_title(viewer->window, title);
  }
}

/* The control fills the window; the property page, while shown, takes a
   panel at the bottom. While the video is full screen the control keeps
   its size: it would take the video window back with it. */
static void layout(Viewer* viewer) {
  int width = 0, height = 0, panel = 0;
  if (viewer->full_screen) return;
  if (!lumvara_window_get_rect(viewer->window, NULL, NULL, &width, &height)) return;
  if (viewer->page != NULL) {
    panel = height >= 2 * PAGE_PANEL_HEIGHT ? PAGE_PANEL_HEIGHT : height / 2;
    lumvara_window_set_rect(viewer->page, 0, height - panel, width, panel);
  }
  lumvara_window_set_rect(lumvara_control_window(viewer->control), 0, 0, width, height - panel);
}

/* The newest ".bmp" in `folder` changed at or after `since`, into `path`;
   0 when there is none. */
static int newest_snapshot(const char* folder, time_t since, char* path, size_t size) {
  DIR* dir = opendir(folder);
  struct dirent* entry;
  struct timespec newest = {0, 0};
  int found = 0;
  if (dir == NULL) return 0;
  while ((entry = readdir(dir)) != NULL) {
    char candidate[VIEW_PATH_MAX + 300];
    struct stat info;
    const size_t length = strlen(entry->d_name);
    if (length < 4 || strcmp(entry->d_name + length - 4, ".bmp") != 0) continue;
    snprintf(candidate, sizeof candidate, "%s/%s", folder, entry->d_name);
    if (stat(candidate, &info) != 0 || !S_ISREG(info.st_mode) || info.st_mtim.tv_sec < since) continue;
    if (!found || info.st_mtim.tv_sec > newest.tv_sec ||
        (info.st_mtim.tv_sec == newest.tv_sec && info.st_mtim.tv_nsec >= newest.tv_nsec)) {
      newest = info.st_mtim;
      snprintf(path, size, "%s", candidate);
      found = 1;
    }
  }
  closedir(dir);
  return found;
}

/* S: the control writes the next picture into its recording folder. */
static void take_snapshot(Viewer* viewer) {
  char folder[VIEW_PATH_MAX + 1];
  char path[VIEW_PATH_MAX + 300];
  char text[sizeof path + 32];
  const time_t before = time(NULL);
  get_string(viewer, "RecFilePath", folder, sizeof folder);
  if (call(viewer, "CapturePic", NULL, 0) != 0) return;
  if (!newest_snapshot(folder, before, path, sizeof path)) {
    snprintf(text, sizeof text, "no snapshot appeared in %s", folder);
    complain(text);
    return;
  }
  snprintf(text, sizeof text, "snapshot %s", path);
  say(text);
}

static void toggle_recording(Viewer* viewer) {
  call(viewer, get_long(viewer, "RecordState") ? "StopRecord" : "StartRecord", NULL, 0);
}

static void toggle_sound(Viewer* viewer) {
  call(viewer, get_long(viewer, "SoundState") ? "CloseSound" : "OpenSound", NULL, 0);
}

static void toggle_talk(Viewer* viewer) {
  call(viewer, get_long(viewer, "TalkState") ? "StopTalk" : "StartTalk", NULL, 0);
}

/* M: the picture mirrored left-right, and back. */
static void toggle_flip(Viewer* viewer) {
  const LumvaraVariant type = long_arg(viewer->flip ? 0 : 1);
  if (call(viewer, "SetFlip", &type, 1) == 0) viewer->flip = !viewer->flip;
}

/* O: the camera's address over the picture (with the time stamp the
   control adds), and off again. */
static void toggle_osd(Viewer* viewer) {
  if (viewer->osd_on) {
    if (call(viewer, "RemoveOsd", NULL, 0) == 0) viewer->osd_on = 0;
  } else {
    const LumvaraVariant osd = string_arg(viewer->camera);
    if (call(viewer, "SetOsd", &osd, 1) == 0) viewer->osd_on = 1;
  }
}

/* F: the video window covers the screen, and comes back. */
static void toggle_full_screen(Viewer* viewer) {
  if (viewer->full_screen) {
    call(viewer, "ShowNormal", NULL, 0);
    viewer->full_screen = 0;
    layout(viewer); /* the window may have been resized meanwhile */
  } else {
    call(viewer, "ShowMax", NULL, 0);
    viewer->full_screen = 1;
  }
}

/* P: the control's folder chooser; snapshots and recordings go there. */
static void choose_folder(Viewer* viewer) {
  char folder[VIEW_PATH_MAX + 1];
  char text[sizeof folder + 32];
  call(viewer, "SetPath", NULL, 0);
  get_string(viewer, "RecFilePath", folder, sizeof folder);
  snprintf(text, sizeof text, "recording folder %s", folder);
  say(text);
}

/* I: the control's property page in a panel below the video, and away. */
static void toggle_property_page(Viewer* viewer) {
  if (viewer->page != NULL) {
    lumvara_window_destroy(viewer->page);
    viewer->page = NULL;
    say("property page closed");
  } else {
    int width = 0, height = 0;
    lumvara_window_get_rect(viewer->window, NULL, NULL, &width, &height);
    viewer->page =
        lumvara_property_page_create(viewer->window, 0, height / 2, width > 0 ? width : 1, height > 1 ? height / 2 : 1);
    if (viewer->page == NULL) {
      complain("the property page cannot be shown");
      return;
    }
    say("property page shown");
  }
  layout(viewer);
}

typedef void (*KeyAction)(Viewer* viewer);

static void quit(Viewer* viewer) { viewer->quit = 1; }

/* Keys arrive as virtual key codes: letters as upper-case ASCII, 27 Escape. */
static const struct {
  long key;
  KeyAction action;
} kKeys[] = {
    {'S', take_snapshot},
    {'R', toggle_recording},
    {'A', toggle_sound},
    {'T', toggle_talk},
    {'M', toggle_flip},
    {'O', toggle_osd},
    {'F', toggle_full_screen},
    {'P', choose_folder},
    {'I', toggle_property_page},
    {'Q', quit},
    {27, quit},
};

static void on_key(Viewer* viewer, long key) {
  size_t i;
  for (i = 0; i < COUNT(kKeys); ++i) {
    if (kKeys[i].key == key) {
      kKeys[i].action(viewer);
      update_title(viewer);
      return;
    }
  }
}

/* Runs on the main thread, from inside lumvara_window_pump; keys pressed
   in the video window reach here too (the control passes them on). */
static void on_window_event(LumvaraWindow window, int event, long a, long b, void* context) {
  Viewer* viewer = (Viewer*)context;
  (void)window;
  (void)b;
  switch (event) {
    case LUMVARA_WINDOW_EVENT_CLOSE:
      viewer->quit = 1;
      break;
    case LUMVARA_WINDOW_EVENT_SIZE:
      layout(viewer);
      break;
    case LUMVARA_WINDOW_EVENT_KEY:
      on_key(viewer, a);
      break;
    default:
      break;
  }
}

/* Whether the window shows a camera picture: a sample of its pixels holds
   more colours than the control's own drawing. */
static int window_shows_picture(LumvaraWindow window) {
  static unsigned char pixels[4 * 1920 * 1080];
  unsigned int colours[PICTURE_COLOURS];
  int width = 0, height = 0, x, y, count = 0, i;
  const long needed = lumvara_window_read_pixels(window, NULL, 0, 0, &width, &height);
  if (needed <= 0 || needed > (long)sizeof pixels ||
      lumvara_window_read_pixels(window, pixels, (long)sizeof pixels, 0, NULL, NULL) != needed) {
    return 0;
  }
  for (y = height / 40; y < height; y += height / 20 + 1) {
    for (x = width / 64; x < width; x += width / 32 + 1) {
      const unsigned char* p = pixels + ((size_t)y * (size_t)width + (size_t)x) * 4;
      const unsigned int colour = (unsigned int)p[0] | (unsigned int)p[1] << 8 | (unsigned int)p[2] << 16;
      for (i = 0; i < count && colours[i] != colour; ++i) {
      }
      if (i == count) colours[count++] = colour;
      if (count == PICTURE_COLOURS) return 1;
    }
  }
  return 0;
}

/* The window the video is drawn in now: the control's own video window
   while it is full screen. */
static LumvaraWindow video_shown_in(const Viewer* viewer) {
  LumvaraWindow video = viewer->full_screen ? lumvara_control_video_window(viewer->control) : NULL;
  return video != NULL ? video : viewer->window;
}

static void count_pictures(Viewer* viewer, long long now, long long* next_second) {
  const LumvaraWindow shown = video_shown_in(viewer);
  const unsigned long changes = lumvara_window_changes(shown);
  if (shown == viewer->counted_window) {
    const double elapsed = (double)(now - *next_second + 1000) / 1000.0;
    viewer->shown_per_second = (double)(changes - viewer->changes_at_last_second) / elapsed;
  }
  viewer->counted_window = shown;
  viewer->changes_at_last_second = changes;
  *next_second = now + 1000;
}

/* Watches until a key, the window, a signal or --seconds ends it; returns
   the exit code. */
static int watch(Viewer* viewer) {
  const long long start = now_ms();
  const long long end = viewer->options.seconds > 0 ? start + (long long)(viewer->options.seconds * 1000.0) : -1;
  const long long every = (long long)(viewer->options.snapshot_every * 1000.0);
  long long next_second = start + 1000;
  long long next_snapshot = every > 0 ? start + every : -1;
  int playback_end_said = 0;

  while (!viewer->quit && !g_interrupted) {
    long long now;
    lumvara_window_pump(50);
    now = now_ms();

    if (!viewer->pictures_seen && window_shows_picture(video_shown_in(viewer))) {
      viewer->pictures_seen = 1;
      say("pictures in the window");
      update_title(viewer);
    }
    if (is_playback(viewer) && !playback_end_said &&
        now - (viewer->last_progress_ms > 0 ? viewer->last_progress_ms : start) > PLAYBACK_QUIET_MS) {
      if (!viewer->pictures_seen) {
        complain("no pictures arrived: is the file on the camera's SD card?");
        return VIEW_EXIT_FAILURE;
      }
      say("end of the recording");
      playback_end_said = 1;
    }
    if (next_snapshot >= 0 && now >= next_snapshot) {
      if (viewer->pictures_seen) take_snapshot(viewer);
      while (next_snapshot <= now) next_snapshot += every;
    }
    if (now >= next_second) {
      count_pictures(viewer, now, &next_second);
      update_title(viewer);
    }
    if (end >= 0 && now >= end) {
      /* A watch that ran its whole time without a picture failed; one the
         user ended early did not. */
      if (!viewer->pictures_seen) {
        char text[128];
        snprintf(text, sizeof text, "no video arrived from %s", viewer->camera);
        complain(text);
        return VIEW_EXIT_FAILURE;
      }
      break;
    }
  }
  return VIEW_EXIT_OK;
}

/* Undoes whatever start-up got to. Destroying the control ends its video,
   sound, talk and recording and takes its windows (the full-screen one too). */
static void close_all(Viewer* viewer) {
  if (viewer->control != NULL) lumvara_control_destroy(viewer->control);
  if (viewer->page != NULL) lumvara_window_destroy(viewer->page);
  if (viewer->window != NULL) lumvara_window_destroy(viewer->window);
}

/* The window, the control in it, then the camera through the control. */
static int open_all(Viewer* viewer) {
  const ViewOptions* options = &viewer->options;
  const int width = options->width > 0 ? options->width : DEFAULT_WIDTH;
  const int height = options->height > 0 ? options->height : DEFAULT_HEIGHT;
  size_t i;

  if (!options->headless && getenv("DISPLAY") == NULL && getenv("WAYLAND_DISPLAY") == NULL &&
      getenv("SDL_VIDEODRIVER") == NULL) {
    complain("cannot open a window: no display (DISPLAY or WAYLAND_DISPLAY); --headless runs without one");
    return VIEW_EXIT_FAILURE;
  }
  viewer->window = lumvara_window_create(options->headless ? LUMVARA_WINDOW_HEADLESS : LUMVARA_WINDOW_SDL,
                                         "lumvara-view", width, height);
  if (viewer->window == NULL) {
    complain(options->headless ? "cannot create a window"
                               : "cannot open a window (no display? --headless runs without one)");
    return VIEW_EXIT_FAILURE;
  }
  lumvara_window_set_event_handler(viewer->window, on_window_event, viewer);

  viewer->control = lumvara_control_create(LUMVARA_CONTROL_PROGID, viewer->window, 0, 0, width, height);
  if (viewer->control == NULL) {
    complain("cannot create the control " LUMVARA_CONTROL_PROGID);
    return VIEW_EXIT_FAILURE;
  }
  for (i = 0; i < COUNT(kEventNames); ++i) {
    viewer->event_ids[i] = lumvara_control_get_dispid(viewer->control, kEventNames[i]);
  }
  for (i = 0; i < COUNT(kPropertyNames); ++i) {
    viewer->property_ids[i] = lumvara_control_get_dispid(viewer->control, kPropertyNames[i]);
  }
  lumvara_control_advise(viewer->control, on_control_event, viewer);

  if (is_playback(viewer)) {
    const LumvaraVariant args[] = {
        string_arg(options->user),    string_arg(options->pwd),
        string_arg(options->host),    long_arg(options->port),
        string_arg(options->sd_file), long_arg(options->mjpeg ? MJPEG_STREAM_ID : options->stream)};
    if (call(viewer, "SdRecordFilePlay", args, (int)COUNT(args)) != 0) return VIEW_EXIT_FAILURE;
  } else {
    const LumvaraVariant args[] = {string_arg(options->user), string_arg(options->pwd),  string_arg(options->host),
                                   long_arg(options->port),   long_arg(options->stream), long_arg(CAMERA_AUDIO_STREAM)};
    if (call(viewer, "PlayVideo", args, (int)COUNT(args)) != 0) return VIEW_EXIT_FAILURE;
  }
  update_title(viewer);
  return VIEW_EXIT_OK;
}

int main(int argc, char** argv) {
  static Viewer viewer; /* zeroed; large enough to keep off the stack */
  char error[256];
  int help = 0;
  int code;
  struct sigaction action;

  code = view_parse_options(argc, argv, &viewer.options, &help, error, sizeof error);
  if (code != VIEW_EXIT_OK) {
    fprintf(stderr, "lumvara-view: %s\n\n%s", error, view_usage());
    return code;
  }
  if (help) {
    fputs(view_usage(), stdout);
    return VIEW_EXIT_OK;
  }
  snprintf(viewer.camera, sizeof viewer.camera, "%s:%d", viewer.options.host, viewer.options.port);

  memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);
  signal(SIGPIPE, SIG_IGN);

  code = open_all(&viewer);
  if (code == VIEW_EXIT_OK) {
    const long long start = now_ms();
    char text[128];
    code = watch(&viewer);
    snprintf(text, sizeof text, "%lu pictures shown in %.1f s", lumvara_window_changes(viewer.window),
             (double)(now_ms() - start) / 1000.0);
    say(text);
  }
  close_all(&viewer);
  return code;
}
