/* Public API: windows for native hosts: a top-level window to give a player, its message loop and its pixels. */
#ifndef LUMVARA_WINDOW_H
#define LUMVARA_WINDOW_H

#include <lumvara/export.h>

#endif
