/* Public API: LAN camera search (device_broadcast_*).

   A search broadcasts one small UDP request (to 255.255.255.255:8600 unless
   the environment variables LUMVARA_SEARCH_ADDR / LUMVARA_SEARCH_PORT name
   another destination) and reports every camera answer that arrives, for as
   long as the search context lives, to the callback of the latest search. */
#ifndef LUMVARA_SEARCH_H
#define LUMVARA_SEARCH_H

#include <stddef.h>

#include <lumvara/export.h>

LUMVARA_BEGIN_DECLS

/* A camera's description of itself, 320 bytes, as the camera sent it. Three
   fields are defined; every other byte is the camera's own and is passed on
   unchanged. Bytes the camera did not send read as zero. The texts are
   NUL-terminated when the camera terminated them: read them with a bound. */
typedef struct SearchResultRecord {
  char ip[86];                /* 0: camera IP address, dotted text */
  unsigned short port;        /* 86: camera port, little-endian on the wire */
  unsigned char reserved[32]; /* 88: the camera's own */
  char name[200];             /* 120: camera name, UTF-8 */
} SearchResultRecord;

LUMVARA_STATIC_ASSERT(sizeof(SearchResultRecord) == 320, "SearchResultRecord is 320 bytes");
LUMVARA_STATIC_ASSERT(offsetof(SearchResultRecord, ip) == 0, "ip at 0");
LUMVARA_STATIC_ASSERT(offsetof(SearchResultRecord, port) == 86, "port at 86");
LUMVARA_STATIC_ASSERT(offsetof(SearchResultRecord, name) == 120, "name at 120");

/* Called on the search thread, once per answer (duplicates included). The
   record is valid only during the call. The callback must not call
   device_broadcast_unInitialization. */
typedef void (*SearchResultCallback)(const SearchResultRecord* record, void* context);

/* Creates the process-wide search context: a UDP socket with broadcast
   permission bound to an ephemeral port, and its receive thread.
   1 ready (also when it already was), 0 failed (nothing is kept; a later
   call tries again). */
LUMVARA_API int device_broadcast_Initialization(void);

/* Sends one search request; answers go to `callback` from now on, replacing
   the callback of any earlier search. 1 sent, 0 without a context or when
   the request could not be sent. */
LUMVARA_API int device_broadcast_search(SearchResultCallback callback, void* context);

/* Stops the receive thread, closes the socket and frees the context. 1 (also
   without a context); 0 when called from inside a search callback. */
LUMVARA_API int device_broadcast_unInitialization(void);

LUMVARA_END_DECLS

#endif
