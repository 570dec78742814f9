#pragma once
// Final touches to the headers of a closed AVI file, so that they read as
// the recorder defines them rather than as the muxer fills them in:
// - main and video headers carry the real frame size, 0 x 0 included (the
//   muxer insists on a non-zero size while writing);
// - BITMAPINFOHEADER image size 0; stream quality 0; audio handler 0;
// - the video stream's suggested buffer size is width x height, or the
//   largest sample when that is larger;
// - the audio format is an 18-byte WAVEFORMATEX (cbSize 0) instead of the
//   muxer's 16-byte WAVEFORMAT; the 2 bytes come from the reserved space
//   that follows it.
// Only bytes inside the header list change; sample data and indices stay.

#include <cstddef>
#include <cstdint>

#include "platform/avi/avi_file.h"

namespace lumvara {

// Works on the header bytes in memory (the file's first bytes up to and
// including the header list). False when they are not laid out as expected.
bool PatchAviHeaderBytes(uint8_t* bytes, size_t size, const AviVideoFormat& video);

// Reads, patches and writes back the header of the file open on fd.
bool PatchAviHeaders(int fd, const AviVideoFormat& video);

}  // namespace lumvara
