#pragma once
// The process-wide list of devices that exist. Every exported call checks a
// handle against it, so a null, foreign or destroyed pointer is refused
// instead of used. The list holds raw pointers and owns nothing: whoever
// created a device destroys it after removing it here.

namespace lumvara {

class CNetDevice;

// Appends `device` at the tail.
void addLiveDevice(CNetDevice* device);
// Removes `device`; true when it was in the list.
bool removeLiveDevice(CNetDevice* device);
// 1 when `device` is in the list, else 0 (also for null).
int isLiveDevice(const void* device);

}  // namespace lumvara
