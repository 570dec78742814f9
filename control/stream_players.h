#pragma once
// Creates the players the control shows video with.

namespace lumvara {
class CNetStreamPlay;
}

namespace lumvara::control {

enum class StreamPlayerKind { kH264, kMjpeg };

// A new player of the kind, already appended to the live-player list (which
// owns it from then on: x_player_destroyPlayInstance frees it); null when it
// cannot be created.
CNetStreamPlay* CreateStreamPlayer(StreamPlayerKind kind);

}  // namespace lumvara::control
