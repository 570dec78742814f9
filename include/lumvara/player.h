/* Public API: stream players (x_player_*), on-screen text records. */
#ifndef LUMVARA_PLAYER_H
#define LUMVARA_PLAYER_H

#include <lumvara/export.h>

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
  uint8_t reserved;   /* not read */
  int32_t left;       /* rectangle in picture pixels, used when `position` is none of the fixed ones */
  int32_t top;
  int32_t right;
  int32_t bottom;
  char text[128];
  int32_t mode;       /* LUMVARA_OSD_MODE_TIME_STAMP or any other value */
  int32_t position;   /* LUMVARA_OSD_TOP_LEFT ... LUMVARA_OSD_CENTRE, or the rectangle */
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
   that is not a live player returns 0 and does nothing. */
typedef void* LumvaraPlayer;

/* Removes the player from the live list, stops it and destroys it. 1, or 0
   for a null handle or one that is not live (never created, or already
   destroyed). Do not destroy a player while another thread is inside a call
   on it. */
LUMVARA_API int x_player_destroyPlayInstance(LumvaraPlayer player);

LUMVARA_END_DECLS

#endif
