/* Public API: LAN camera search (device_broadcast_*). */
#ifndef LUMVARA_SEARCH_H
#define LUMVARA_SEARCH_H

#include <lumvara/export.h>

#endif
