// Connection scripts written as text, for the command line:
//   "action=notice,kind=201,after=10,close=1,cgi=livestream.cgi,pieces=7/13/3,gap=5"
// Items may come in any order; each is optional.
#pragma once

#include <optional>
#include <string>

#include "apps/camsim/camera_simulator.h"

namespace lumvara::camsim {

// Nothing (and the reason in `error`) when an item or value is not understood.
std::optional<ConnectionScript> ParseConnectionScript(const std::string& text, std::string* error);

}  // namespace lumvara::camsim
