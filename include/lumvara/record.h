/* Public API: local recording requests. */
#ifndef LUMVARA_RECORD_H
#define LUMVARA_RECORD_H

#include <lumvara/export.h>

#endif
