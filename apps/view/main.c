/* lumvara-view: a camera's live video (or an SD-card recording) in a window.

   Written on the public C API only, as the worked example for native
   programs. The pieces meet like this:

     camera device (device_net_work_*)
        | data callback, on the connection's receive thread
        v
     player (x_player_inputNetFrame) --draws--> LumvaraWindow (lumvara_window_*)
                                                  | key and size events, on
                                                  v this program's main thread
                                               the actions below

   Threads: main() creates the window and pumps its messages; every player,
   window and talk call except x_player_inputNetFrame is made there. The
   device's callbacks run on its own threads and only hand frames to the
   player and set atomic flags that the main loop reads. */
#define _XOPEN_SOURCE 700

#include <lumvara/lumvara.h>

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "view_options.h"

/* The camera's audio stream id. */
#define CAMERA_AUDIO_STREAM 2
/* How long the camera may take to answer the first connect (a name lookup,
   a 3 s connect bound and a slow camera). */
#define CONNECT_TIMEOUT_MS 15000
/* SD playback: with no frame for this long the recording has ended (or the
   camera did not know the file). */
#define PLAYBACK_QUIET_MS 3000
/* The on-screen text entry used for the time stamp. */
#define TIME_STAMP_ENTRY 0
#define DEFAULT_WIDTH 640
#define DEFAULT_HEIGHT 360

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

/* ---- What the device's threads tell the main thread -------------------- */

typedef struct CameraLink {
  LumvaraPlayer player;          /* set before the stream starts, never changed */
  atomic_int connected;          /* a live request went out on a connected socket */
  atomic_int failed_connects;    /* connect failures before the first success */
  atomic_int refusal;            /* 0, or the refusal event (LUMVARA_EVENT_LOGIN_REFUSED ...) */
  atomic_int video_loss;
  atomic_ulong video_frames;     /* video frames handed to the player */
  atomic_llong last_frame_ms;    /* now_ms() of the latest frame */
} CameraLink;

/* Runs on a device receive thread for every frame of the live, audio or
   playback connection; the frame is valid only during the call. The player
   copies what it keeps. */
static int on_frame(const unsigned char* frame, int length, void* context) {
  CameraLink* link = (CameraLink*)context;
  int kind;
  if (frame == NULL || length < LUMVARA_FRAME_HEADER_SIZE) return 0;
  kind = frame[offsetof(StreamFrameHeader, kind)];
  atomic_store(&link->last_frame_ms, now_ms());
  if (kind == LUMVARA_FRAME_KIND_LOGIN_REFUSED) {
    atomic_store(&link->refusal, LUMVARA_EVENT_LOGIN_REFUSED); /* SD playback reports it so */
    return 0;
  }
  if (kind == LUMVARA_FRAME_KIND_H264_KEY || kind == LUMVARA_FRAME_KIND_H264 ||
      kind == LUMVARA_FRAME_KIND_JPEG) {
    atomic_fetch_add(&link->video_frames, 1);
  }
  x_player_inputNetFrame(link->player, frame, length);
  return 0;
}

/* Runs on the device's keep-alive thread (0, 100, 101) or a receive thread. */
static int on_device_event(int event, void* context) {
  CameraLink* link = (CameraLink*)context;
  switch (event) {
    case LUMVARA_EVENT_CONNECTED:
      atomic_store(&link->connected, 1);
      break;
    case LUMVARA_EVENT_CONNECT_FAILED:
      if (!atomic_load(&link->connected)) atomic_fetch_add(&link->failed_connects, 1);
      break;
    case LUMVARA_EVENT_LOGIN_REFUSED:
    case LUMVARA_EVENT_TOO_MANY_USERS:
    case LUMVARA_EVENT_REQUEST_ERROR:
      atomic_store(&link->refusal, event);
      break;
    case LUMVARA_EVENT_VIDEO_LOSS:
      atomic_store(&link->video_loss, 1);
      break;
    default:
      break; /* connecting, alarms */
  }
  return 0;
}

/* Runs on the talk capture thread: each 64 ms of microphone sound, encoded,
   goes to the camera on the live connection. */
static int on_talk_block(const unsigned char* data, int length, void* device) {
  device_net_work_sendTalkData(device, (const char*)data, length);
  return 1;
}

static const char* refusal_text(int event) {
  switch (event) {
    case LUMVARA_EVENT_LOGIN_REFUSED: return "login refused: user or password wrong";
    case LUMVARA_EVENT_TOO_MANY_USERS: return "refused: the camera's connection limit is reached";
    case LUMVARA_EVENT_REQUEST_ERROR: return "refused: request type error";
    default: return "refused";
  }
}

/* ---- The viewer (main thread only) -------------------------------------- */

typedef struct Viewer {
  ViewOptions options;
  char camera[80]; /* HOST:PORT, for the title and messages */
  char tag[80];    /* the camera in file names: '.', ':' and '/' made '_' */
  void* device;
  LumvaraPlayer player;
  LumvaraWindow window;
  void* talk;
  CameraLink link;
  int sound_on, talk_on, time_stamp_on, full_screen, effect;
  int sized_to_picture;
  int quit;
  int snapshots;
  unsigned long changes_at_last_second;
  double shown_per_second;
  char title[512];
} Viewer;

static int is_playback(const Viewer* viewer) { return viewer->options.sd_file[0] != '\0'; }

static void say(const char* text) {
  printf("lumvara-view: %s\n", text);
  fflush(stdout);
}

static void complain(const char* text) { fprintf(stderr, "lumvara-view: %s\n", text); }

/* The title shows the camera, pictures shown per second and what is on. */
static void update_title(Viewer* viewer) {
  char title[sizeof viewer->title];
  char state[64];
  if (atomic_load(&viewer->link.video_frames) == 0) {
    snprintf(state, sizeof state, "%s", is_playback(viewer) ? "opening recording" : "connecting");
  } else {
    snprintf(state, sizeof state, "%.0f fps", viewer->shown_per_second);
  }
  snprintf(title, sizeof title, "lumvara-view %s%s%s - %s - sound %s, talk %s, recording %s",
           viewer->camera, is_playback(viewer) ? " " : "",
           is_playback(viewer) ? viewer->options.sd_file : "", state,
           viewer->sound_on ? "on" : "off", viewer->talk_on ? "on" : "off",
           x_player_getrecordstatus(viewer->player) ? "on" : "off");
  if (strcmp(title, viewer->title) != 0) {
    strcpy(viewer->title, title);
    lumvara_window_set_title(viewer->window, title);
  }
}

/* Makes `dir` if it does not exist (one level). */
static int ensure_folder(const char* dir) {
  struct stat info;
  if (stat(dir, &info) == 0) return S_ISDIR(info.st_mode);
  return mkdir(dir, 0755) == 0;
}

/* S: the next picture into the snapshot folder, a BMP (the MJPEG player
   saves the camera's JPEG as it came). */
static void take_snapshot(Viewer* viewer) {
  char path[VIEW_PATH_MAX + 160];
  char text[sizeof path + 32];
  struct stat info;
  struct tm local;
  const time_t now = time(NULL);
  localtime_r(&now, &local);
  if (!ensure_folder(viewer->options.snapshot_dir)) {
    snprintf(text, sizeof text, "snapshot folder %s cannot be made", viewer->options.snapshot_dir);
    complain(text);
    return;
  }
  snprintf(path, sizeof path, "%s/%s_%04d%02d%02d_%02d%02d%02d_%03d.%s",
           viewer->options.snapshot_dir, viewer->tag, local.tm_year + 1900, local.tm_mon + 1,
           local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ++viewer->snapshots % 1000,
           viewer->options.mjpeg ? "jpg" : "bmp");
  /* The player writes the file at its next picture, waiting a moment for it. */
  if (x_player_capturePicture(viewer->player, path) != 1 || stat(path, &info) != 0) {
    complain("no snapshot: no picture came in time");
    return;
  }
  snprintf(text, sizeof text, "snapshot %s", path);
  say(text);
}

/* R: AVI files under the record folder, in a folder named after the camera. */
static void toggle_recording(Viewer* viewer) {
  LocalRecordRequest request;
  char root[PATH_MAX];
  char text[PATH_MAX + 64];
  if (x_player_getrecordstatus(viewer->player)) {
    x_player_stoplocalrecord(viewer->player);
    say("recording off");
    return;
  }
  if (!ensure_folder(viewer->options.record_dir) || realpath(viewer->options.record_dir, root) == NULL ||
      strlen(root) >= sizeof request.rootPath) {
    snprintf(text, sizeof text, "cannot record into %s", viewer->options.record_dir);
    complain(text);
    return;
  }
  memset(&request, 0, sizeof request); /* bytes after each text stay 0 */
  strcpy(request.rootPath, root);
  snprintf(request.cameraName, sizeof request.cameraName, "%s", viewer->tag);
  request.fileSizeMB = 100;
  request.fileMinutes = 10;
  request.reservedMB = 200;
  request.cover = 0;
  if (x_player_startlocalrecord(viewer->player, request) != 1) {
    complain("the recording did not start");
    return;
  }
  snprintf(text, sizeof text, "recording on: AVI files under %s", root);
  say(text);
}

/* A: the player's sound output and, for live video, the camera's audio
   connection, whose frames reach the player through the same callback. */
static void toggle_sound(Viewer* viewer) {
  if (viewer->sound_on) {
    if (!is_playback(viewer)) device_net_work_stopAudio(viewer->device);
    x_player_closeSound(viewer->player);
    viewer->sound_on = 0;
    say("sound off");
    return;
  }
  /* The MJPEG player answers 1 when its output opened; the H.264 player
     answers 0 either way (and stays silent when no output opened). */
  if (x_player_openSound(viewer->player) != 1 && viewer->options.mjpeg) {
    complain("no sound: the player cannot open the sound output (is a sound server running?)");
    return;
  }
  if (!is_playback(viewer) &&
      device_net_work_startAudio(viewer->device, CAMERA_AUDIO_STREAM, on_frame, &viewer->link) != 1) {
    x_player_closeSound(viewer->player);
    complain("no sound: the camera's audio stream did not start");
    return;
  }
  viewer->sound_on = 1;
  say("sound on");
}

/* T: the microphone to the camera, through the dual-talk calls. */
static void toggle_talk(Viewer* viewer) {
  if (viewer->talk_on) {
    x_player_StopDualTalk(viewer->talk);
    viewer->talk_on = 0;
    say("talk off");
    return;
  }
  if (is_playback(viewer)) {
    complain("talk needs the live stream");
    return;
  }
  if (viewer->talk == NULL) viewer->talk = x_player_createDualtalkInstance();
  if (viewer->talk == NULL ||
      x_player_StartDualTalk(viewer->talk, on_talk_block, viewer->device) != 1) {
    if (viewer->talk != NULL) x_player_StopDualTalk(viewer->talk);
    complain("no talk: the microphone cannot be opened (is a sound server running?)");
    return;
  }
  viewer->talk_on = 1;
  say("talk on");
}

/* M: none, mirrored left-right, mirrored up-down, half turn, none, ... */
static void next_effect(Viewer* viewer) {
  char text[48];
  viewer->effect = (viewer->effect + 1) % 4;
  x_player_setRenderEffect(viewer->player, viewer->effect);
  x_player_refreshLastPicture(viewer->player);
  snprintf(text, sizeof text, "render effect %d", viewer->effect);
  say(text);
}

/* O: the frame's date and time in the top left corner. */
static void toggle_time_stamp(Viewer* viewer) {
  if (viewer->time_stamp_on) {
    x_player_removeOsdstring(viewer->player, TIME_STAMP_ENTRY);
    viewer->time_stamp_on = 0;
  } else {
    OsdStringRecord entry;
    memset(&entry, 0, sizeof entry);
    strcpy(entry.faceName, "DejaVu Sans");
    entry.red = entry.green = entry.blue = 255;
    entry.mode = LUMVARA_OSD_MODE_TIME_STAMP; /* `text` (empty) then the time */
    entry.position = LUMVARA_OSD_TOP_LEFT;
    viewer->time_stamp_on = x_player_setOsdString(viewer->player, TIME_STAMP_ENTRY, &entry) == 1;
  }
  x_player_refreshLastPicture(viewer->player);
  say(viewer->time_stamp_on ? "time stamp on" : "time stamp off");
}

static void toggle_full_screen(Viewer* viewer) {
  if (lumvara_window_set_fullscreen(viewer->window, !viewer->full_screen) != 1) {
    complain("this window cannot go full screen");
    return;
  }
  viewer->full_screen = !viewer->full_screen;
}

typedef enum ViewAction {
  ACTION_NONE,
  ACTION_SNAPSHOT,
  ACTION_RECORD,
  ACTION_SOUND,
  ACTION_TALK,
  ACTION_EFFECT,
  ACTION_TIME_STAMP,
  ACTION_FULL_SCREEN,
  ACTION_QUIT
} ViewAction;

/* Keys arrive as virtual key codes: letters as upper-case ASCII, 27 Escape. */
static ViewAction action_for_key(long key) {
  switch (key) {
    case 'S': return ACTION_SNAPSHOT;
    case 'R': return ACTION_RECORD;
    case 'A': return ACTION_SOUND;
    case 'T': return ACTION_TALK;
    case 'M': return ACTION_EFFECT;
    case 'O': return ACTION_TIME_STAMP;
    case 'F': return ACTION_FULL_SCREEN;
    case 'Q':
    case 27: return ACTION_QUIT;
    default: return ACTION_NONE;
  }
}

static void run_action(Viewer* viewer, ViewAction action) {
  switch (action) {
    case ACTION_SNAPSHOT: take_snapshot(viewer); break;
    case ACTION_RECORD: toggle_recording(viewer); break;
    case ACTION_SOUND: toggle_sound(viewer); break;
    case ACTION_TALK: toggle_talk(viewer); break;
    case ACTION_EFFECT: next_effect(viewer); break;
    case ACTION_TIME_STAMP: toggle_time_stamp(viewer); break;
    case ACTION_FULL_SCREEN: toggle_full_screen(viewer); break;
    case ACTION_QUIT: viewer->quit = 1; break;
    case ACTION_NONE: break;
  }
  update_title(viewer);
}

/* Runs on the main thread, from inside lumvara_window_pump. */
static void on_window_event(LumvaraWindow window, int event, long a, long b, void* context) {
  Viewer* viewer = (Viewer*)context;
  (void)window;
  (void)b;
  switch (event) {
    case LUMVARA_WINDOW_EVENT_CLOSE: viewer->quit = 1; break;
    case LUMVARA_WINDOW_EVENT_SIZE: x_player_refreshLastPicture(viewer->player); break;
    case LUMVARA_WINDOW_EVENT_KEY: run_action(viewer, action_for_key(a)); break;
    default: break;
  }
}

/* Once the first picture is in, the window takes its size (unless --size
   gave one or the user has gone full screen). */
static void size_to_picture(Viewer* viewer) {
  int width = 0, height = 0, x = 0, y = 0;
  if (viewer->sized_to_picture || viewer->full_screen) return;
  if (x_player_getPlayPicSize(viewer->player, &width, &height) != 1 || width <= 0 || height <= 0) {
    return;
  }
  viewer->sized_to_picture = 1;
  lumvara_window_get_rect(viewer->window, &x, &y, NULL, NULL);
  lumvara_window_set_rect(viewer->window, x, y, width, height);
}

static void make_tag(const char* camera, char* tag, size_t size) {
  size_t i;
  snprintf(tag, size, "%s", camera);
  for (i = 0; tag[i] != '\0'; ++i) {
    if (tag[i] == '.' || tag[i] == ':' || tag[i] == '/') tag[i] = '_';
  }
}

/* Watches until a key, the window, a signal or --seconds ends it; returns
   the exit code. */
static int watch(Viewer* viewer) {
  const long long start = now_ms();
  const long long end = viewer->options.seconds > 0
                            ? start + (long long)(viewer->options.seconds * 1000.0)
                            : -1;
  const long long every = (long long)(viewer->options.snapshot_every * 1000.0);
  long long next_second = start + 1000;
  long long next_snapshot = every > 0 ? start + every : -1;
  int connected_said = 0, video_loss_said = 0, playback_end_said = 0;

  while (!viewer->quit && !g_interrupted) {
    long long now;
    int refusal;
    lumvara_window_pump(50);
    now = now_ms();

    refusal = atomic_load(&viewer->link.refusal);
    if (refusal != 0) {
      complain(refusal_text(refusal));
      return VIEW_EXIT_REFUSED;
    }
    if (!is_playback(viewer)) {
      if (!connected_said && atomic_load(&viewer->link.connected)) {
        char text[128];
        snprintf(text, sizeof text, "connected to %s", viewer->camera);
        say(text);
        connected_said = 1;
      }
      if (!atomic_load(&viewer->link.connected) &&
          (atomic_load(&viewer->link.failed_connects) > 0 || now - start > CONNECT_TIMEOUT_MS)) {
        char text[128];
        snprintf(text, sizeof text, "cannot connect to %s", viewer->camera);
        complain(text);
        return VIEW_EXIT_UNREACHABLE;
      }
      if (!video_loss_said && atomic_load(&viewer->link.video_loss)) {
        complain("the camera reports video loss");
        video_loss_said = 1;
      }
    } else {
      const long long quiet = now - (atomic_load(&viewer->link.video_frames) > 0
                                         ? atomic_load(&viewer->link.last_frame_ms)
                                         : start);
      if (quiet > PLAYBACK_QUIET_MS && !playback_end_said) {
        if (atomic_load(&viewer->link.video_frames) == 0) {
          complain("no pictures arrived: is the file on the camera's SD card?");
          return VIEW_EXIT_FAILURE;
        }
        say("end of the recording");
        playback_end_said = 1;
      }
    }

    if (atomic_load(&viewer->link.video_frames) > 0) size_to_picture(viewer);
    if (next_snapshot >= 0 && now >= next_snapshot) {
      if (atomic_load(&viewer->link.video_frames) > 0) take_snapshot(viewer);
      while (next_snapshot <= now) next_snapshot += every;
    }
    if (now >= next_second) {
      const unsigned long changes = lumvara_window_changes(viewer->window);
      const double elapsed = (double)(now - next_second + 1000) / 1000.0;
      viewer->shown_per_second = (double)(changes - viewer->changes_at_last_second) / elapsed;
      viewer->changes_at_last_second = changes;
      next_second = now + 1000;
      update_title(viewer);
    }
    if (end >= 0 && now >= end) {
      /* A watch that ran its whole time without a picture failed; one the
         user ended early did not. */
      if (atomic_load(&viewer->link.video_frames) == 0) {
        complain("no video arrived");
        return VIEW_EXIT_FAILURE;
      }
      break;
    }
  }
  return VIEW_EXIT_OK;
}

/* Undoes whatever start-up got to, in the order the API asks for: talk,
   then the camera (its threads end inside destroyInstance, so no callback
   touches the player afterwards), then the player, then the window. */
static void close_all(Viewer* viewer) {
  if (viewer->talk != NULL) {
    x_player_StopDualTalk(viewer->talk);
    x_player_destroyDualtalkInstance(viewer->talk);
  }
  if (viewer->device != NULL) {
    if (viewer->sound_on && !is_playback(viewer)) device_net_work_stopAudio(viewer->device);
    if (is_playback(viewer)) {
      device_record_file_stop(viewer->device);
    } else {
      device_net_work_stopStream(viewer->device);
    }
    device_net_work_destroyInstance(viewer->device);
  }
  if (viewer->player != NULL) {
    if (x_player_getrecordstatus(viewer->player)) x_player_stoplocalrecord(viewer->player);
    x_player_stopPlay(viewer->player);
    x_player_destroyPlayInstance(viewer->player);
  }
  if (viewer->window != NULL) lumvara_window_destroy(viewer->window);
  x_player_uninitPlayLib();
  device_net_work_deInit();
}

/* Window, player, then the camera device, which starts delivering at once. */
static int open_all(Viewer* viewer) {
  const ViewOptions* options = &viewer->options;
  DeviceConnectInfo info;
  char text[256];

  x_player_initPlayLib();
  device_net_work_init();
  if (!options->headless && getenv("DISPLAY") == NULL && getenv("WAYLAND_DISPLAY") == NULL &&
      getenv("SDL_VIDEODRIVER") == NULL) {
    complain("cannot open a window: no display (DISPLAY or WAYLAND_DISPLAY); --headless runs without one");
    return VIEW_EXIT_FAILURE;
  }
  viewer->window = lumvara_window_create(options->headless ? LUMVARA_WINDOW_HEADLESS : LUMVARA_WINDOW_SDL,
                                         "lumvara-view", options->width > 0 ? options->width : DEFAULT_WIDTH,
                                         options->height > 0 ? options->height : DEFAULT_HEIGHT);
  if (viewer->window == NULL) {
    complain(options->headless ? "cannot create a window"
                               : "cannot open a window (no display? --headless runs without one)");
    return VIEW_EXIT_FAILURE;
  }
  lumvara_window_set_event_handler(viewer->window, on_window_event, viewer);
  viewer->sized_to_picture = options->width > 0;

  viewer->player = x_player_createPlayInstance(options->mjpeg ? LUMVARA_PLAYER_MJPEG : LUMVARA_PLAYER_H264);
  if (viewer->player == NULL) {
    complain("cannot create the player");
    return VIEW_EXIT_FAILURE;
  }
  viewer->link.player = viewer->player;
  x_player_setPlayWnd(viewer->player, viewer->window);
  x_player_renderActualProportion(viewer->player, 1); /* black bars rather than a stretched picture */
  if (x_player_startPlay(viewer->player) != 1) {
    complain("the player did not start");
    return VIEW_EXIT_FAILURE;
  }

  memset(&info, 0, sizeof info);
  strcpy(info.user, options->user);
  strcpy(info.pwd, options->pwd);
  strcpy(info.host, options->host);
  info.port = options->port;
  viewer->device = device_net_work_createInstance(info);
  if (viewer->device == NULL) {
    complain("cannot create the camera device");
    return VIEW_EXIT_FAILURE;
  }
  device_net_work_set_event_callback(viewer->device, on_device_event, &viewer->link);
  if (is_playback(viewer)) {
    if (device_record_file_start(viewer->device, options->sd_file, on_frame, &viewer->link) != 1) {
      snprintf(text, sizeof text, "cannot connect to %s", viewer->camera);
      complain(text);
      return VIEW_EXIT_UNREACHABLE;
    }
  } else {
    device_net_work_startStream(viewer->device, options->stream, on_frame, &viewer->link);
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
  make_tag(viewer.camera, viewer.tag, sizeof viewer.tag);

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
    snprintf(text, sizeof text, "%lu pictures shown in %.1f s",
             lumvara_window_changes(viewer.window), (double)(now_ms() - start) / 1000.0);
    say(text);
  }
  close_all(&viewer);
  return code;
}
