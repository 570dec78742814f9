#pragma once
// The camera's SD-card recordings between two times, for the demo page's
// list: a device of its own, one search, then a second search with dates
// that match nothing, which returns once the first has reported every file.

#include <string>
#include <vector>

#include "apps/webhost/page_protocol.h"

namespace lumvara::webhost {

struct RecordEntry {
  std::string name;
  int size = 0;
};

// Blocks while the camera answers. False with a reason when no device can
// be created for the address.
bool ListRecords(const PageRequest& request, std::vector<RecordEntry>* out, std::string* error);

}  // namespace lumvara::webhost
