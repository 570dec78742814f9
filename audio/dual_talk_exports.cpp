// The exported two-way talk calls: a CWaveIn behind an opaque handle.
#include "audio/wave_in.h"

#include <lumvara/audio.h>

#include <new>

using lumvara::CWaveIn;

LUMVARA_API void* x_player_createDualtalkInstance(void) { return new (std::nothrow) CWaveIn(); }

LUMVARA_API int x_player_destroyDualtalkInstance(void* instance) {
  if (!instance) return 0;
  delete static_cast<CWaveIn*>(instance);  // stops capture first
  return 1;
}

LUMVARA_API int x_player_StartDualTalk(void* instance, TalkDataCallback callback, void* user) {
  if (!instance) return 0;
  return static_cast<CWaveIn*>(instance)->Start(callback, user);
}

LUMVARA_API int x_player_StopDualTalk(void* instance) {
  if (!instance) return 0;
  return static_cast<CWaveIn*>(instance)->Stop();
}
