/* lumvara-demo: watches one camera's live stream through the public C API and
   prints, once a second, the device events and the frames that arrived (by
   kind: count, bytes, rate). Exits 0 when video frames arrived, 1 when none
   did, 2 on bad arguments. */
#define _POSIX_C_SOURCE 200809L

#include <lumvara/lumvara.h>

#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { kKindSlots = 256 };

typedef struct Stats {
  pthread_mutex_t lock;
  unsigned long frames[kKindSlots];
  unsigned long long bytes[kKindSlots];
  unsigned long total_video;
  unsigned long bad_frames;
} Stats;

static Stats g_stats = {PTHREAD_MUTEX_INITIALIZER, {0}, {0}, 0, 0};
static volatile sig_atomic_t g_interrupted = 0;

static void on_signal(int signal_number) {
  (void)signal_number;
  g_interrupted = 1;
}

static const char* event_text(int event) {
  switch (event) {
    case 0:
      return "connecting";
    case 100:
      return "connected, live request sent";
    case 101:
      return "connect failed, will retry";
    case 1:
      return "login refused: user or password wrong";
    case 2:
      return "refused: too many connections";
    case 3:
      return "refused: request type error";
    case 4:
      return "camera reports video loss";
    case 32:
      return "motion alarm";
    case 33:
      return "input alarm";
    case 34:
      return "motion alarm over";
    case 35:
      return "input alarm over";
    default:
      return "unknown event";
  }
}

static const char* kind_text(int kind) {
  switch (kind) {
    case 0:
      return "H.264 key";
    case 1:
      return "H.264";
    case 3:
      return "JPEG";
    case 6:
      return "ADPCM audio";
    case 7:
      return "A-law audio";
    default:
      return "other";
  }
}

/* Runs on the keep-alive thread (0, 100, 101) or the receive thread. */
static int on_event(int event, void* context) {
  (void)context;
  pthread_mutex_lock(&g_stats.lock);
  printf("event %d: %s\n", event, event_text(event));
  fflush(stdout);
  pthread_mutex_unlock(&g_stats.lock);
  return 0;
}

/* Runs on the live connection's receive thread; the frame is valid only now. */
static int on_frame(const unsigned char* frame, int length, void* context) {
  StreamFrameHeader header;
  (void)context;
  pthread_mutex_lock(&g_stats.lock);
  if (frame == NULL || length < (int)sizeof header) {
    ++g_stats.bad_frames;
  } else {
    memcpy(&header, frame, sizeof header);
    if (header.magic != LUMVARA_FRAME_MAGIC || (long)header.length + 32 != (long)length) {
      ++g_stats.bad_frames;
    } else {
      ++g_stats.frames[header.kind];
      g_stats.bytes[header.kind] += (unsigned long long)length;
      if (header.kind == 0 || header.kind == 1 || header.kind == 3) ++g_stats.total_video;
    }
  }
  pthread_mutex_unlock(&g_stats.lock);
  return 0;
}

static void print_second(int second) {
  int kind;
  int any = 0;
  pthread_mutex_lock(&g_stats.lock);
  printf("[%2ds]", second);
  for (kind = 0; kind < kKindSlots; ++kind) {
    if (g_stats.frames[kind] == 0) continue;
    any = 1;
    printf("  kind %d (%s): %lu frames/s, %llu bytes, %.1f kbit/s", kind, kind_text(kind), g_stats.frames[kind],
           g_stats.bytes[kind], (double)g_stats.bytes[kind] * 8.0 / 1000.0);
    g_stats.frames[kind] = 0;
    g_stats.bytes[kind] = 0;
  }
  if (!any) printf("  no frames");
  if (g_stats.bad_frames != 0) printf("  (%lu malformed)", g_stats.bad_frames);
  printf("\n");
  fflush(stdout);
  pthread_mutex_unlock(&g_stats.lock);
}

static void usage(const char* program) {
  fprintf(stderr,
          "usage: %s [--host ADDRESS] [--port PORT] [--user USER] [--pwd PASSWORD]\n"
          "          [--stream ID] [--seconds N]\n",
          program);
}

static int copy_text(char* field, size_t room, const char* text) {
  if (strlen(text) >= room) return 0;
  strcpy(field, text);
  return 1;
}

int main(int argc, char** argv) {
  DeviceConnectInfo info;
  int stream_id = 10;
  int seconds = 10;
  int i;
  void* device;
  struct sigaction action;
  unsigned long video;

  memset(&info, 0, sizeof info);
  strcpy(info.host, "127.0.0.1");
  strcpy(info.user, "admin");
  info.port = 81;
  for (i = 1; i < argc; ++i) {
    const char* value = i + 1 < argc ? argv[i + 1] : NULL;
    int ok = value != NULL;
    if (ok && strcmp(argv[i], "--host") == 0) {
      ok = copy_text(info.host, sizeof info.host, value);
    } else if (ok && strcmp(argv[i], "--user") == 0) {
      ok = copy_text(info.user, sizeof info.user, value);
    } else if (ok && strcmp(argv[i], "--pwd") == 0) {
      ok = copy_text(info.pwd, sizeof info.pwd, value);
    } else if (ok && strcmp(argv[i], "--port") == 0) {
      info.port = atoi(value);
      ok = info.port > 0 && info.port < 65536;
    } else if (ok && strcmp(argv[i], "--stream") == 0) {
      stream_id = atoi(value);
    } else if (ok && strcmp(argv[i], "--seconds") == 0) {
      seconds = atoi(value);
      ok = seconds > 0;
    } else {
      ok = 0;
    }
    if (!ok) {
      usage(argv[0]);
      return 2;
    }
    ++i;
  }

  memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);

  printf("lumvara-demo: live stream %d of %s:%d for %d s\n", stream_id, info.host, (int)info.port, seconds);
  fflush(stdout);
  device_net_work_init();
  device = device_net_work_createInstance(info);
  if (device == NULL) {
    fprintf(stderr, "lumvara-demo: cannot create the device\n");
    return 1;
  }
  device_net_work_set_event_callback(device, on_event, NULL);
  device_net_work_startStream(device, stream_id, on_frame, NULL);

  for (i = 1; i <= seconds && !g_interrupted; ++i) {
    int tenth;
    for (tenth = 0; tenth < 10 && !g_interrupted; ++tenth) {
      struct timespec pause = {0, 100 * 1000 * 1000};
      nanosleep(&pause, NULL);
    }
    print_second(i);
  }

  device_net_work_stopStream(device);
  device_net_work_destroyInstance(device);
  device_net_work_deInit();

  pthread_mutex_lock(&g_stats.lock);
  video = g_stats.total_video;
  pthread_mutex_unlock(&g_stats.lock);
  printf("lumvara-demo: %lu video frames in all\n", video);
  return video > 0 ? 0 : 1;
}
