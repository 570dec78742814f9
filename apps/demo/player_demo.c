/* lumvara-player-demo: the lower layer on its own. A camera device hands
   its live frames to a player, which draws them into a window; at the end
   the player saves its picture. This is what the camera control does inside
   (lumvara-view hosts the control instead).

   Threads: main() owns the window and the player and pumps the window's
   messages; on_frame runs on the device's receive thread and only hands
   frames to the player. Exits 0 when a picture was decoded, 1 when none
   was, 2 on bad arguments. */
#define _POSIX_C_SOURCE 200809L

#include <lumvara/lumvara.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* Runs on the connection's receive thread; the player copies the frame. */
static int on_frame(const unsigned char* frame, int length, void* player) {
  x_player_inputNetFrame(player, frame, length);
  return 0;
}

static int copy_text(char* field, size_t room, const char* text) {
  if (strlen(text) >= room) return 0;
  strcpy(field, text);
  return 1;
}

int main(int argc, char** argv) {
  DeviceConnectInfo info;
  const char* snapshot = NULL;
  int stream_id = 0, seconds = 5, headless = 0, width = 0, height = 0, i;
  struct timespec start, now;
  LumvaraWindow window;
  LumvaraPlayer player;
  void* camera;

  memset(&info, 0, sizeof info);
  strcpy(info.host, "127.0.0.1");
  strcpy(info.user, "admin");
  info.port = 81;
  for (i = 1; i < argc; ++i) {
    const char* value = i + 1 < argc ? argv[i + 1] : NULL;
    int ok = 1;
    if (strcmp(argv[i], "--headless") == 0) {
      headless = 1;
      continue;
    }
    if (value == NULL) {
      ok = 0;
    } else if (strcmp(argv[i], "--host") == 0) {
      ok = copy_text(info.host, sizeof info.host, value);
    } else if (strcmp(argv[i], "--user") == 0) {
      ok = copy_text(info.user, sizeof info.user, value);
    } else if (strcmp(argv[i], "--pwd") == 0) {
      ok = copy_text(info.pwd, sizeof info.pwd, value);
    } else if (strcmp(argv[i], "--port") == 0) {
      info.port = atoi(value);
      ok = info.port > 0 && info.port < 65536;
    } else if (strcmp(argv[i], "--stream") == 0) {
      stream_id = atoi(value);
    } else if (strcmp(argv[i], "--seconds") == 0) {
      seconds = atoi(value);
      ok = seconds > 0;
    } else if (strcmp(argv[i], "--snapshot") == 0) {
      snapshot = value;
    } else {
      ok = 0;
    }
    if (!ok) {
      fprintf(stderr,
              "usage: %s [--host ADDRESS] [--port PORT] [--user USER] [--pwd PASSWORD]\n"
              "          [--stream ID] [--seconds N] [--headless] [--snapshot FILE.bmp]\n",
              argv[0]);
      return 2;
    }
    ++i;
  }

  /* The window and the player, then the camera, which starts delivering. */
  x_player_initPlayLib();
  window =
      lumvara_window_create(headless ? LUMVARA_WINDOW_HEADLESS : LUMVARA_WINDOW_SDL, "lumvara-player-demo", 640, 360);
  player = x_player_createPlayInstance(LUMVARA_PLAYER_H264);
  if (window == NULL || player == NULL) {
    fprintf(stderr, "lumvara-player-demo: cannot create the %s\n", window == NULL ? "window" : "player");
    return 1;
  }
  x_player_setPlayWnd(player, window);
  x_player_renderActualProportion(player, 1); /* black bars rather than a stretched picture */
  x_player_startPlay(player);
  camera = device_net_work_createInstance(info);
  if (camera == NULL) {
    fprintf(stderr, "lumvara-player-demo: cannot create the device\n");
    return 1;
  }
  device_net_work_startStream(camera, stream_id, on_frame, player);

  clock_gettime(CLOCK_MONOTONIC, &start);
  do {
    if (!lumvara_window_pump(100)) break;
    clock_gettime(CLOCK_MONOTONIC, &now);
  } while (now.tv_sec - start.tv_sec < seconds);

  x_player_getPlayPicSize(player, &width, &height);
  printf("lumvara-player-demo: picture %dx%d, drawn %lu times\n", width, height, lumvara_window_changes(window));
  if (snapshot != NULL) {
    printf("lumvara-player-demo: snapshot %s %s\n", snapshot,
           x_player_capturePicture(player, snapshot) == 1 ? "written" : "failed");
  }

  /* The camera first: its threads end inside destroyInstance, so no frame
     reaches the player afterwards. */
  device_net_work_stopStream(camera);
  device_net_work_destroyInstance(camera);
  x_player_stopPlay(player);
  x_player_destroyPlayInstance(player);
  lumvara_window_destroy(window);
  x_player_uninitPlayLib();
  return width > 0 ? 0 : 1;
}
