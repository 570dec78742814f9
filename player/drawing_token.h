#pragma once
// The process-wide start-up token of the drawing layer. The exported
// x_player_initPlayLib / x_player_uninitPlayLib and the control (for each
// live view or SD playback) share it; the JPEG player needs the layer
// started while it runs.
//
// Start-ups and shut-downs are counted, so they stay balanced however the
// callers interleave: a control's shut-down never ends a native caller's
// start-up, and a shut-down without a start-up is ignored. Any thread.

namespace lumvara {

// Always succeeds with our drawing layer; true.
bool drawingStartup();

// Undoes one drawingStartup(); false when nothing was started.
bool drawingShutdown();

// True between the first start-up and its last balancing shut-down.
bool drawingStarted();

}  // namespace lumvara
