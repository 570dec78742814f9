#include "control/stream_players.h"

#include <lumvara/player.h>

namespace lumvara::control {

CNetStreamPlay* CreateStreamPlayer(StreamPlayerKind kind) {
  // x_player_createPlayInstance creates the player and appends it to the
  // live-player list, as the control needs.
  void* player =
      x_player_createPlayInstance(kind == StreamPlayerKind::kMjpeg ? LUMVARA_PLAYER_MJPEG : LUMVARA_PLAYER_H264);
  return static_cast<CNetStreamPlay*>(player);
}

}  // namespace lumvara::control
