// Access units read from an H.264 Annex B file, for a live stream that plays
// a given recording in a loop instead of the generated pattern.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "apps/camsim/h264_test_pattern.h"

namespace lumvara::camsim {

// Splits an Annex B byte stream into access units: a new unit begins at an
// access unit delimiter, a parameter set or SEI after picture data, or a
// slice that starts a new picture (first macroblock 0). A unit holding an IDR
// slice is a key frame.
std::vector<AccessUnit> SplitAccessUnits(const std::vector<uint8_t>& stream);

// The file's access units; nothing when it cannot be read or holds no picture.
std::optional<std::vector<AccessUnit>> LoadAccessUnits(const std::string& path);

}  // namespace lumvara::camsim
