/* Public API: two-way talk and mixer volume and mute (x_player_*). */
#ifndef LUMVARA_AUDIO_H
#define LUMVARA_AUDIO_H

#include <lumvara/export.h>

#endif
