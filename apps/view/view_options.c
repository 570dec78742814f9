/* lumvara-view's command line. */
#include "view_options.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char kUsage[] =
    "usage: lumvara-view HOST:PORT [--user USER] [--pwd PASSWORD] [--stream ID]\n"
    "                   [--sd FILE [--mjpeg]] [--seconds S] [--headless]\n"
    "                   [--snapshot-every S] [--size WxH]\n"
    "\n"
    "Shows a camera's live video (or, with --sd, a recording on its SD card) in a\n"
    "window through the camera control, and prints the control's events.\n"
    "Keys: S snapshot, R recording on/off, A sound on/off, T talk on/off,\n"
    "M mirror on/off, O text over the picture on/off, F full screen on/off,\n"
    "P choose the recording folder, I property page on/off, Q or Escape quits.\n"
    "Snapshots and recordings go to the control's recording folder (P, or\n"
    "SETPATH in its settings file: $LUMVARA_INI, else ~/.config/lumvara/Lumvara.ini).\n"
    "\n"
    "  --user, --pwd       credentials (default user admin, empty password)\n"
    "  --stream ID         live stream id (default 0)\n"
    "  --sd FILE           play this SD-card recording; --mjpeg when it holds JPEG pictures\n"
    "  --seconds S         quit after S seconds\n"
    "  --headless          no desktop window (the picture stays in memory)\n"
    "  --snapshot-every S  save a snapshot every S seconds\n"
    "  --size WxH          window size (default 640x360)\n"
    "\n"
    "Exit codes: 0 done, 1 failed (also: no picture within --seconds), 2 bad arguments.\n";

const char* view_usage(void) { return kUsage; }

static int fail(char* error, size_t error_size, const char* what, const char* value) {
  snprintf(error, error_size, "%s%s%s", what, value ? ": " : "", value ? value : "");
  return VIEW_EXIT_BAD_INPUT;
}

/* A text for a fixed field: shorter than the field, no line breaks. */
static int copy_field(char* field, size_t size, const char* value) {
  if (strlen(value) >= size || strpbrk(value, "\r\n") != NULL) return 0;
  strcpy(field, value);
  return 1;
}

static int parse_int(const char* text, long low, long high, int* out) {
  char* end = NULL;
  long value;
  errno = 0;
  value = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return 0;
  *out = (int)value;
  return 1;
}

static int parse_seconds(const char* text, double* out) {
  char* end = NULL;
  double value;
  errno = 0;
  value = strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !isfinite(value) || value <= 0 || value > 86400 * 365.0) {
    return 0;
  }
  *out = value;
  return 1;
}

/* "HOST:PORT", port 1..65535. */
static int parse_camera(const char* text, ViewOptions* options) {
  const char* colon = strrchr(text, ':');
  size_t host_length;
  if (colon == NULL || colon == text) return 0;
  host_length = (size_t)(colon - text);
  if (host_length >= sizeof options->host) return 0;
  if (strspn(colon + 1, "0123456789") != strlen(colon + 1)) return 0;
  if (!parse_int(colon + 1, 1, 65535, &options->port)) return 0;
  memcpy(options->host, text, host_length);
  options->host[host_length] = '\0';
  return strpbrk(options->host, "\r\n") == NULL;
}

static int parse_size(const char* text, ViewOptions* options) {
  char width[16];
  const char* x = strchr(text, 'x');
  size_t length;
  if (x == NULL) return 0;
  length = (size_t)(x - text);
  if (length == 0 || length >= sizeof width) return 0;
  memcpy(width, text, length);
  width[length] = '\0';
  return parse_int(width, 16, 16384, &options->width) && parse_int(x + 1, 16, 16384, &options->height);
}

int view_parse_options(int argc, char** argv, ViewOptions* options, int* help, char* error, size_t error_size) {
  int i;
  int have_camera = 0;
  memset(options, 0, sizeof *options);
  strcpy(options->user, "admin");
  *help = 0;
  error[0] = '\0';

  for (i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : NULL;
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      *help = 1;
      return VIEW_EXIT_OK;
    }
    if (strcmp(arg, "--mjpeg") == 0) {
      options->mjpeg = 1;
      continue;
    }
    if (strcmp(arg, "--headless") == 0) {
      options->headless = 1;
      continue;
    }
    if (strncmp(arg, "--", 2) != 0) {
      if (have_camera) return fail(error, error_size, "more than one camera given", arg);
      if (!parse_camera(arg, options)) {
        return fail(error, error_size, "expected HOST:PORT (port 1..65535)", arg);
      }
      have_camera = 1;
      continue;
    }
    if (strcmp(arg, "--record-dir") == 0 || strcmp(arg, "--snapshot-dir") == 0) {
      snprintf(error, error_size,
               "%s is no longer an option: snapshots and recordings go to the control's recording "
               "folder (key P, or SETPATH in its settings file)",
               arg);
      return VIEW_EXIT_BAD_INPUT;
    }
    if (value == NULL) return fail(error, error_size, "missing value after", arg);
    ++i;
    if (strcmp(arg, "--user") == 0) {
      if (!copy_field(options->user, sizeof options->user, value)) {
        return fail(error, error_size, "--user must be under 64 bytes without line breaks", NULL);
      }
    } else if (strcmp(arg, "--pwd") == 0) {
      if (!copy_field(options->pwd, sizeof options->pwd, value)) {
        return fail(error, error_size, "--pwd must be under 64 bytes without line breaks", NULL);
      }
    } else if (strcmp(arg, "--stream") == 0) {
      if (!parse_int(value, 0, 1000000, &options->stream)) {
        return fail(error, error_size, "--stream must be a number >= 0", value);
      }
    } else if (strcmp(arg, "--sd") == 0) {
      if (value[0] == '\0' || !copy_field(options->sd_file, sizeof options->sd_file, value)) {
        return fail(error, error_size, "--sd must name a file of 1 to 127 bytes", value);
      }
    } else if (strcmp(arg, "--seconds") == 0) {
      if (!parse_seconds(value, &options->seconds)) {
        return fail(error, error_size, "--seconds must be a positive number", value);
      }
    } else if (strcmp(arg, "--snapshot-every") == 0) {
      if (!parse_seconds(value, &options->snapshot_every)) {
        return fail(error, error_size, "--snapshot-every must be a positive number", value);
      }
    } else if (strcmp(arg, "--size") == 0) {
      if (!parse_size(value, options)) {
        return fail(error, error_size, "--size must be WIDTHxHEIGHT, each 16..16384", value);
      }
    } else {
      return fail(error, error_size, "unknown option", arg);
    }
  }
  if (!have_camera) return fail(error, error_size, "no camera given (HOST:PORT)", NULL);
  if (options->mjpeg && options->sd_file[0] == '\0') {
    return fail(error, error_size, "--mjpeg goes with --sd FILE", NULL);
  }
  return VIEW_EXIT_OK;
}
