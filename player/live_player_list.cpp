#include "player/live_player_list.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "player/net_stream_play.h"

namespace lumvara {

namespace {

struct LivePlayerList {
  std::mutex lock;
  std::vector<const void*> players;
};

LivePlayerList& livePlayers() {
  static LivePlayerList list;
  return list;
}

}  // namespace

void appendLivePlayer(CNetStreamPlay* player) {
  LivePlayerList& list = livePlayers();
  std::lock_guard<std::mutex> guard(list.lock);
  list.players.push_back(static_cast<const void*>(player));
}

int isLivePlayer(const void* handle) {
  if (handle == nullptr) {
    return 0;
  }
  LivePlayerList& list = livePlayers();
  std::lock_guard<std::mutex> guard(list.lock);
  return std::find(list.players.begin(), list.players.end(), handle) != list.players.end() ? 1 : 0;
}

bool removeLivePlayer(const void* handle) {
  LivePlayerList& list = livePlayers();
  std::lock_guard<std::mutex> guard(list.lock);
  const auto before = list.players.size();
  std::erase(list.players, handle);
  return list.players.size() != before;
}

}  // namespace lumvara
