/* Public API: stream players (x_player_*), on-screen text records. */
#ifndef LUMVARA_PLAYER_H
#define LUMVARA_PLAYER_H

#include <lumvara/export.h>
#include <lumvara/record.h>
#include <lumvara/window.h>

#include <stddef.h>
#include <stdint.h>

LUMVARA_BEGIN_DECLS

/* ---- On-screen text ----------------------------------------------------- */

/* Where an entry is drawn (`position`); any other value uses the entry's own
   rectangle. */
#define LUMVARA_OSD_TOP_LEFT 10
#define LUMVARA_OSD_TOP_RIGHT 11
#define LUMVARA_OSD_BOTTOM_LEFT 12
#define LUMVARA_OSD_BOTTOM_RIGHT 13
#define LUMVARA_OSD_CENTRE 14

/* `mode`: the text is a prefix followed by the frame's date and time. Any
   other value shows the text alone. */
#define LUMVARA_OSD_MODE_TIME_STAMP 1

/* Each player holds this many entries, indices 0 to 15. */
#define LUMVARA_OSD_ENTRY_COUNT 16

/* One on-screen text entry, 188 bytes; callers fill it field by field and
   players copy it whole. Texts are UTF-8; a field without a terminating NUL
   ends at its last byte. */
typedef struct OsdStringRecord {
  char faceName[24];  /* font face name */
  int32_t fontWidth;  /* average character width; 0 = the font's default */
  int32_t fontHeight; /* character height: > 0 cell height, < 0 character height, 0 = default */
  uint8_t red;        /* text colour */
  uint8_t green;
  uint8_t blue;
  uint8_t reserved; /* not read */
  int32_t left;     /* rectangle in picture pixels, used when `position` is none of the fixed ones */
  int32_t top;
  int32_t right;
  int32_t bottom;
  char text[128];
  int32_t mode;     /* LUMVARA_OSD_MODE_TIME_STAMP or any other value */
  int32_t position; /* LUMVARA_OSD_TOP_LEFT ... LUMVARA_OSD_CENTRE, or the rectangle */
} OsdStringRecord;

LUMVARA_STATIC_ASSERT(sizeof(OsdStringRecord) == 188, "OsdStringRecord is 188 bytes");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, fontWidth) == 24, "fontWidth at 24");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, fontHeight) == 28, "fontHeight at 28");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, red) == 32, "red at 32");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, green) == 33, "green at 33");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, blue) == 34, "blue at 34");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, left) == 36, "rectangle at 36");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, bottom) == 48, "rectangle ends at 52");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, text) == 52, "text at 52");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, mode) == 180, "mode at 180");
LUMVARA_STATIC_ASSERT(offsetof(OsdStringRecord, position) == 184, "position at 184");

/* ---- Players ------------------------------------------------------------ */

/* A player is named by its address, an opaque handle. Every call on a handle
   that is not a live player returns 0 (null for x_player_getPlayWnd) and does
   nothing.

   Threads: any thread may call these. A camera client's data callback
   usually calls x_player_inputNetFrame on the connection's receive thread,
   the other calls come from the window's thread. A call runs outside the
   live-player list's lock, so do not destroy a player while another thread
   is inside a call on it. Results are 1 for success (or a state that
   already holds) and 0 for failure, refusal or a handle that is not live. */
typedef void* LumvaraPlayer;

/* x_player_createPlayInstance types. */
#define LUMVARA_PLAYER_H264 0  /* H.264 frames (kinds 0 and 1), ADPCM / A-law sound */
#define LUMVARA_PLAYER_MJPEG 1 /* JPEG pictures (kind 3), ADPCM sound */

/* Render effects for x_player_setRenderEffect; other values show the
   picture unchanged. */
#define LUMVARA_EFFECT_NONE 0
#define LUMVARA_EFFECT_MIRROR_LEFT_RIGHT 1
#define LUMVARA_EFFECT_MIRROR_UP_DOWN 2
#define LUMVARA_EFFECT_HALF_TURN 3

/* Starts the drawing layer for the process; balanced by
   x_player_uninitPlayLib (start-ups are counted). Always 1. */
LUMVARA_API int x_player_initPlayLib(void);

/* Undoes one x_player_initPlayLib. Always 1. */
LUMVARA_API int x_player_uninitPlayLib(void);

/* Creates a player of `type` (LUMVARA_PLAYER_*) and adds it to the
   live-player list. The caller owns it and frees it with
   x_player_destroyPlayInstance. Null for any other type or when creation
   fails. */
LUMVARA_API LumvaraPlayer x_player_createPlayInstance(int type);

/* Removes the player from the live list, stops it and destroys it. 1, or 0
   for a null handle or one that is not live (never created, or already
   destroyed). Do not destroy a player while another thread is inside a call
   on it. */
LUMVARA_API int x_player_destroyPlayInstance(LumvaraPlayer player);

/* Starts the player's threads and its picture tick. 1 when playing (also
   when it already was); 0 when the decoder or the picture memory cannot be
   had. */
LUMVARA_API int x_player_startPlay(LumvaraPlayer player);

/* Ends the recording and the sound, stops the threads and empties the
   video queue. The window keeps its pixels, but there is no last picture
   to redraw until a picture comes after the next start. Always 1. */
LUMVARA_API int x_player_stopPlay(LumvaraPlayer player);

/* Hands the player one whole stream frame: the 32-byte StreamFrameHeader
   then the payload, `length` their total (at most 32 + 524288). The player
   copies it; the frame may be reused when the call returns. A running
   recording takes every frame, also while the player is stopped. 1 when
   the player is playing (the frame may still be dropped by its queue
   policy), 0 when it is stopped or the frame is malformed: shorter than
   its header, or announcing more payload than `length` holds. A malformed
   frame is not recorded either. */
LUMVARA_API int x_player_inputNetFrame(LumvaraPlayer player, const unsigned char* frame, int length);

/* Frames waiting in the video queue (0 for the MJPEG player). */
LUMVARA_API int x_player_getListFrameNum(LumvaraPlayer player);

/* The window the picture is drawn into, from the next picture on. The
   window is the caller's; the player never destroys it. The H.264 player
   refuses null (0) and keeps its window; the MJPEG player stores any
   value (null stops its drawing). */
LUMVARA_API int x_player_setPlayWnd(LumvaraPlayer player, LumvaraWindow window);

/* The window given to x_player_setPlayWnd, or null. */
LUMVARA_API LumvaraWindow x_player_getPlayWnd(LumvaraPlayer player);

/* Draws the last picture again (call it when the window needs a repaint).
   0 when no picture has been decoded since the player started. */
LUMVARA_API int x_player_refreshLastPicture(LumvaraPlayer player);

/* Plays the stream's sound frames on the default output device. The
   H.264 player returns 0 whether or not the output opened (and when sound
   is already on); the MJPEG player returns 1 when the output opened. */
LUMVARA_API int x_player_openSound(LumvaraPlayer player);

/* Stops the sound; the H.264 player also empties its video queue. 1. */
LUMVARA_API int x_player_closeSound(LumvaraPlayer player);

/* Starts recording every frame given to the player into AVI files under
   request.rootPath / request.cameraName (LocalRecordRequest, <lumvara/record.h>).
   1 when recording (also when it already was), 0 when the recorder cannot
   start (for example, the root cannot be written). */
LUMVARA_API int x_player_startlocalrecord(LumvaraPlayer player, LocalRecordRequest request);

/* Stops the recording and closes its file. 1. */
LUMVARA_API int x_player_stoplocalrecord(LumvaraPlayer player);

/* 1 while a recording runs. */
LUMVARA_API int x_player_getrecordstatus(LumvaraPlayer player);

/* Saves the next picture to `path` (NUL-terminated UTF-8): a BMP from the
   H.264 player, the raw JPEG from the MJPEG player. 1 when the picture was
   written; 0 when none came within 200 ms, the file could not be written,
   a capture is already pending, or (H.264) the player is stopped. Blocks
   the caller for at most 200 ms. */
LUMVARA_API int x_player_capturePicture(LumvaraPlayer player, const char* path);

/* Fills `buffer` with a BMP image of the current picture: 54 + width *
   height * 4 bytes, the size x_player_getPlayPicSize reports. Waits at most
   200 ms for the next picture; 0 after that, while stopped or for the
   MJPEG player, and the buffer is never written after the call returns. */
LUMVARA_API int x_player_capturePictureBuf(LumvaraPlayer player, unsigned char* buffer);

/* The decoded picture's size in pixels: 0 x 0 before the first picture.
   H.264 player while playing only; otherwise 0 and nothing is written. */
LUMVARA_API int x_player_getPlayPicSize(LumvaraPlayer player, int* width, int* height);

/* Sets on-screen text entry `index` (0 ... LUMVARA_OSD_ENTRY_COUNT - 1)
   from `record`, which is copied, and switches it on. 0 for another index
   or a null record. */
LUMVARA_API int x_player_setOsdString(LumvaraPlayer player, int index, const OsdStringRecord* record);

/* Switches on-screen text entry `index` off. 0 for an index out of range. */
LUMVARA_API int x_player_removeOsdstring(LumvaraPlayer player, int index);

/* Shows only part of the picture: margins in picture pixels. H.264 player only. */
LUMVARA_API int x_player_adjustViewArea(LumvaraPlayer player, int left, int right, int top, int bottom);

/* LUMVARA_EFFECT_* for the pictures drawn from now on. */
LUMVARA_API int x_player_setRenderEffect(LumvaraPlayer player, int effect);

/* Non-zero keeps the picture's proportions in the window (black bars);
   0 stretches it over the window. H.264 player only. */
LUMVARA_API int x_player_renderActualProportion(LumvaraPlayer player, int flag);

LUMVARA_END_DECLS

#endif
