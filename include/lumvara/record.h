/* Public API: local recording requests. */
#ifndef LUMVARA_RECORD_H
#define LUMVARA_RECORD_H

#include <lumvara/export.h>

#include <stddef.h>
#include <stdint.h>

LUMVARA_BEGIN_DECLS

/* What a local recording is asked for with; 784 bytes, passed and kept whole
   by value. Zero-fill it before writing the fields, so that bytes after each
   text's terminator are 0. Texts are UTF-8, NUL-terminated. The limits are
   carried as the caller wrote them; the recorder raises values below its
   minimums (100 MB, 5 minutes, 200 MB) when it starts a file. */
typedef struct LocalRecordRequest {
  char rootPath[512];   /* recording root folder */
  char cameraName[256]; /* the camera's folder under the root */
  uint32_t fileSizeMB;  /* size limit per file, megabytes */
  uint32_t fileMinutes; /* time limit per file, minutes */
  uint32_t reservedMB;  /* free disk space to keep, megabytes */
  uint32_t cover;       /* non-zero: delete the oldest day when space runs short */
} LocalRecordRequest;

LUMVARA_STATIC_ASSERT(sizeof(LocalRecordRequest) == 784, "LocalRecordRequest is 784 bytes");
LUMVARA_STATIC_ASSERT(offsetof(LocalRecordRequest, cameraName) == 512, "cameraName at 512");
LUMVARA_STATIC_ASSERT(offsetof(LocalRecordRequest, fileSizeMB) == 768, "fileSizeMB at 768");
LUMVARA_STATIC_ASSERT(offsetof(LocalRecordRequest, fileMinutes) == 772, "fileMinutes at 772");
LUMVARA_STATIC_ASSERT(offsetof(LocalRecordRequest, reservedMB) == 776, "reservedMB at 776");
LUMVARA_STATIC_ASSERT(offsetof(LocalRecordRequest, cover) == 780, "cover at 780");

LUMVARA_END_DECLS

#endif
