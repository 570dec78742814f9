/* Public API: stream players (x_player_*), on-screen text records. */
#ifndef LUMVARA_PLAYER_H
#define LUMVARA_PLAYER_H

#include <lumvara/export.h>

#endif
