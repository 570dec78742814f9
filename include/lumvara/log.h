/* Diagnostic messages of the library (socket errors and the like). By default
   they go to standard output; a host may redirect or silence them. */
#ifndef LUMVARA_LOG_H
#define LUMVARA_LOG_H

#include <lumvara/export.h>

LUMVARA_BEGIN_DECLS

/* Receives one formatted message (usually ending in a newline). */
typedef void (*LumvaraLogHandler)(const char* text, void* context);

/* Installs a handler; a null handler silences every message. The handler may
   be called from any of the library's threads, one message at a time. */
LUMVARA_API void lumvara_set_log_handler(LumvaraLogHandler handler, void* context);

/* Restores the default: messages are written to standard output. */
LUMVARA_API void lumvara_reset_log_handler(void);

LUMVARA_END_DECLS

#endif
