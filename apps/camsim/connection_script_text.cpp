#include "apps/camsim/connection_script_text.h"

#include <charconv>
#include <map>
#include <sstream>

namespace lumvara::camsim {
namespace {

bool ToNumber(const std::string& text, long long low, long long high, long long* out) {
  long long value = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return false;
  }
  *out = value;
  return true;
}

}  // namespace

std::optional<ConnectionScript> ParseConnectionScript(const std::string& text, std::string* error) {
  using Action = ConnectionScript::Action;
  static const std::map<std::string, Action> kActions = {{"none", Action::kNone},
                                                         {"notice", Action::kNotice},
                                                         {"corrupt-magic", Action::kCorruptMagic},
                                                         {"oversized-length", Action::kOversizedLength},
                                                         {"silence", Action::kSilence},
                                                         {"close", Action::kClose},
                                                         {"cut-body", Action::kCutBody}};
  ConnectionScript script;
  std::stringstream items(text);
  std::string item;
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  while (std::getline(items, item, ',')) {
    const size_t equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    long long number = 0;
    if (key == "action") {
      const auto it = kActions.find(value);
      if (it == kActions.end()) return fail("unknown action '" + value + "'");
      script.action = it->second;
    } else if (key == "cgi") {
      script.cgi = value;
    } else if (key == "kind") {
      if (!ToNumber(value, 0, 255, &number)) return fail("kind must be 0 to 255");
      script.notice_kind = static_cast<uint8_t>(number);
    } else if (key == "after") {
      if (!ToNumber(value, 0, UINT32_MAX, &number)) return fail("after must be a frame count");
      script.after_frames = static_cast<uint32_t>(number);
    } else if (key == "close") {
      if (!ToNumber(value, 0, 1, &number)) return fail("close must be 0 or 1");
      script.close_after_notice = number == 1;
    } else if (key == "gap") {
      if (!ToNumber(value, 0, 60000, &number)) return fail("gap must be 0 to 60000 ms");
      script.piece_gap = std::chrono::milliseconds(number);
    } else if (key == "pieces") {
      std::stringstream sizes(value);
      std::string size;
      while (std::getline(sizes, size, '/')) {
        if (!ToNumber(size, 1, 1 << 20, &number)) return fail("pieces must be sizes like 7/13/3");
        script.pieces.push_back(static_cast<size_t>(number));
      }
      if (script.pieces.empty()) return fail("pieces must be sizes like 7/13/3");
    } else if (key == "length-field") {
      script.content_length_field = value;
    } else if (key == "no-length") {
      script.omit_content_length = true;
    } else {
      return fail("unknown item '" + key + "'");
    }
  }
  return script;
}

}  // namespace lumvara::camsim
