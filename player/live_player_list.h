#pragma once
// The process-wide list of players that exist. A player is in it from its
// creation until x_player_destroyPlayInstance takes it out; every call on a
// player handle checks the list first, so a stale handle is never used.
// The list's lock is held only for the scan or the change, never while a
// player is called.

namespace lumvara {

class CNetStreamPlay;

// Adds a newly created player at the tail.
void appendLivePlayer(CNetStreamPlay* player);

// 1 when `handle` is in the list, else 0.
int isLivePlayer(const void* handle);

// Removes every element equal to `handle`; false when there was none.
bool removeLivePlayer(const void* handle);

}  // namespace lumvara
