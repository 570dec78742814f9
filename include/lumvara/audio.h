/* Public API: two-way talk and mixer volume and mute (x_player_*). */
#ifndef LUMVARA_AUDIO_H
#define LUMVARA_AUDIO_H

#include <lumvara/export.h>

LUMVARA_BEGIN_DECLS

/* ---- Two-way talk ------------------------------------------------------ */

/* Receives each 64 ms of microphone audio as 256 bytes of IMA ADPCM (512
   samples at 8000 Hz). Runs on the capture thread, one block at a time in
   capture order; `data` is valid only during the call; the result is
   ignored. */
typedef int (*TalkDataCallback)(const unsigned char* data, int length, void* user);

/* A talk capture instance, or NULL when memory is short. */
LUMVARA_API void* x_player_createDualtalkInstance(void);

/* Stops capture if it still runs, then frees the instance. 0 for NULL,
   otherwise 1. */
LUMVARA_API int x_player_destroyDualtalkInstance(void* instance);

/* Opens the default microphone and starts delivering blocks to `callback`.
   Called again while running, only replaces the callback and user value.
   1 when capture is running, 0 otherwise (NULL instance, no server or no
   source). A NULL callback changes nothing. */
LUMVARA_API int x_player_StartDualTalk(void* instance, TalkDataCallback callback, void* user);

/* Stops capture, ends the capture thread and closes the microphone; no
   callback runs once it returns (it waits for a block being delivered).
   0 for NULL, otherwise 1. The talk calls are not to be made from inside
   the talk callback. */
LUMVARA_API int x_player_StopDualTalk(void* instance);

/* ---- Mixer ------------------------------------------------------------- */

/* Volume and mute of the default output (speakers) and the default input
   (microphone). Volumes are percent of the normal level (0..100; larger
   values amplify where the sound server allows it). The set calls return
   LUMVARA_S_OK or LUMVARA_E_FAIL; volume reads return -1 and mute reads 0
   when no server, output or input is reachable. */
#define LUMVARA_S_OK 0
#define LUMVARA_E_FAIL ((int)0x80004005u)

LUMVARA_API int x_player_setPlayVolume(int percent);
LUMVARA_API int x_player_getPlayVolume(void);
LUMVARA_API int x_player_setMute(int mute);
LUMVARA_API int x_player_getMute(void);
LUMVARA_API int x_player_setMicPlayVolume(int percent);
LUMVARA_API int x_player_getMicPlayVolume(void);
LUMVARA_API int x_player_setMicMute(int mute);
LUMVARA_API int x_player_getMicMute(void);

LUMVARA_END_DECLS

#endif
