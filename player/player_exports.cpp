// The exported player calls: each checks the live-player list before it
// touches a player.

#include <lumvara/player.h>

#include "player/live_player_list.h"
#include "player/net_stream_play.h"

using lumvara::CNetStreamPlay;

LUMVARA_API int x_player_destroyPlayInstance(LumvaraPlayer player)
{
    if (player == nullptr || !lumvara::removeLivePlayer(player)) {
        return 0;
    }
    // Out of the list, so no other call starts on it any more; whoever
    // appended it handed its ownership to the list.
    auto* instance = static_cast<CNetStreamPlay*>(player);
    instance->stopPlay();
    delete instance;
    return 1;
}
