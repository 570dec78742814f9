/* lumvara-view's command line: what to watch and how. */
#ifndef LUMVARA_VIEW_OPTIONS_H
#define LUMVARA_VIEW_OPTIONS_H

#include <stddef.h>

/* Exit codes (0 and 2 as lumvara-cli's). */
enum {
  VIEW_EXIT_OK = 0,
  VIEW_EXIT_FAILURE = 1,  /* the window or the control failed, or no picture came */
  VIEW_EXIT_BAD_INPUT = 2 /* bad arguments */
};

/* Texts that a device record holds in 64 bytes (63 and the terminator). */
#define VIEW_TEXT_FIELD 64
#define VIEW_PATH_MAX 512

typedef struct ViewOptions {
  char host[VIEW_TEXT_FIELD];
  int port;
  char user[VIEW_TEXT_FIELD];
  char pwd[VIEW_TEXT_FIELD];
  int stream;            /* live stream id */
  char sd_file[128];     /* non-empty: play this SD-card recording instead of live */
  int mjpeg;             /* the SD recording holds JPEG pictures */
  double seconds;        /* > 0: quit after this long */
  int headless;          /* no desktop window: pixels stay in memory */
  double snapshot_every; /* > 0: a snapshot this often, in seconds */
  int width, height;     /* window size; 0 = the default */
} ViewOptions;

/* Fills `options` from argv. Returns VIEW_EXIT_OK, or VIEW_EXIT_BAD_INPUT
   with a one-line reason in `error`. `*help` is set when --help was given. */
int view_parse_options(int argc, char** argv, ViewOptions* options, int* help, char* error, size_t error_size);

/* The usage text, ready to print. */
const char* view_usage(void);

#endif
