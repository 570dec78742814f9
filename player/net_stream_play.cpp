#include "player/net_stream_play.h"

namespace lumvara {

CNetStreamPlay::~CNetStreamPlay() = default;

}  // namespace lumvara
