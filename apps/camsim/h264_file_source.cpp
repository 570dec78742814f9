#include "apps/camsim/h264_file_source.h"

#include <fstream>
#include <iterator>

namespace lumvara::camsim {
namespace {

constexpr uint8_t kNalSlice = 1;
constexpr uint8_t kNalIdrSlice = 5;
constexpr uint8_t kNalSei = 6;
constexpr uint8_t kNalSps = 7;
constexpr uint8_t kNalPps = 8;
constexpr uint8_t kNalDelimiter = 9;

struct Nal {
  size_t start;    // first byte of its start code
  size_t payload;  // first byte after the start code
};

std::vector<Nal> FindNals(const std::vector<uint8_t>& stream) {
  std::vector<Nal> nals;
  for (size_t i = 0; i + 3 <= stream.size(); ++i) {
    if (stream[i] != 0 || stream[i + 1] != 0) continue;
    if (stream[i + 2] == 1) {
      const size_t start = i > 0 && stream[i - 1] == 0 ? i - 1 : i;
      nals.push_back({start, i + 3});
      i += 2;
    }
  }
  return nals;
}

}  // namespace

std::vector<AccessUnit> SplitAccessUnits(const std::vector<uint8_t>& stream) {
  std::vector<AccessUnit> units;
  const std::vector<Nal> nals = FindNals(stream);
  size_t unit_start = nals.empty() ? 0 : nals[0].start;
  bool has_picture = false;
  bool key = false;
  auto close_unit = [&](size_t end) {
    if (has_picture && end > unit_start) {
      units.push_back({std::vector<uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(unit_start),
                                            stream.begin() + static_cast<std::ptrdiff_t>(end)),
                       key});
    }
    unit_start = end;
    has_picture = false;
    key = false;
  };
  for (const Nal& nal : nals) {
    if (nal.payload >= stream.size()) break;
    const uint8_t type = stream[nal.payload] & 0x1F;
    const bool slice = type == kNalSlice || type == kNalIdrSlice;
    // first_mb_in_slice is the first field of the slice header; as ue(v) it
    // is 0 exactly when its first bit is 1.
    const bool new_picture = slice && nal.payload + 1 < stream.size() && (stream[nal.payload + 1] & 0x80) != 0;
    const bool header = type == kNalDelimiter || type == kNalSps || type == kNalPps || type == kNalSei;
    if (has_picture && (header || new_picture)) close_unit(nal.start);
    if (slice) {
      has_picture = true;
      key = key || type == kNalIdrSlice;
    }
  }
  close_unit(stream.size());
  return units;
}

std::optional<std::vector<AccessUnit>> LoadAccessUnits(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<AccessUnit> units = SplitAccessUnits(stream);
  if (units.empty()) return std::nullopt;
  return units;
}

}  // namespace lumvara::camsim
