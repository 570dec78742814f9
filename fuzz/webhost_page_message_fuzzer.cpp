// The web host's page messages (one WebSocket text message each), the
// calendar times of a records request, and the type library JSON the host
// checks page calls against. The same bytes go to all three readers.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "apps/webhost/page_protocol.h"
#include "apps/webhost/type_library.h"
#include "fuzz/fuzz_check.h"

namespace {

using lumvara::webhost::CalendarTime;
using lumvara::webhost::kMaxControlSide;
using lumvara::webhost::PageOp;
using lumvara::webhost::PageRequest;
using lumvara::webhost::TypeLibrary;

std::string Format(const CalendarTime& c, bool seconds) {
  char text[32];
  if (seconds) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", c.year, c.month, c.day, c.hour, c.minute);
  }
  return text;
}

bool ValidTime(const CalendarTime& c) {
  return c.year >= 0 && c.year <= 9999 && c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31 && c.hour >= 0 &&
         c.hour <= 23 && c.minute >= 0 && c.minute <= 59 && c.second >= 0 && c.second <= 59;
}

void CheckCalendarTime(std::string_view text) {
  CalendarTime c;
  c.year = -7;
  if (lumvara::webhost::ParseCalendarTime(text, &c)) {
    // What was read writes back as exactly the text it came from.
    FUZZ_CHECK(ValidTime(c));
    FUZZ_CHECK(Format(c, text.size() == 19) == text);
  } else {
    FUZZ_CHECK(c.year == -7);
  }
}

bool Side(int v) { return v >= 1 && v <= kMaxControlSide; }

// The message's own field holds exactly the integer that was read.
bool SameInt(const nlohmann::json& message, const char* key, int value) {
  const auto it = message.find(key);
  if (it == message.end()) return false;
  if (it->is_number_unsigned())
    return it->get<uint64_t>() == static_cast<uint64_t>(static_cast<int64_t>(value)) && value >= 0;
  return it->is_number_integer() && it->get<int64_t>() == value;
}

bool Plain(const std::string& s, size_t max) { return s.size() <= max && s.find('\0') == std::string::npos; }

void CheckPageRequest(std::string_view text) {
  PageRequest r;
  std::string problem;
  const bool ok = lumvara::webhost::ParsePageRequest(text, &r, &problem);
  FUZZ_CHECK(r.id.is_null() || r.id.is_number_integer());
  if (!ok) {
    FUZZ_CHECK(!problem.empty());
    return;
  }
  const bool answered = r.op == PageOp::kCreate || r.op == PageOp::kCall || r.op == PageOp::kPut ||
                        r.op == PageOp::kPlayDemo || r.op == PageOp::kDestroy || r.op == PageOp::kRecords;
  if (answered) FUZZ_CHECK(r.id.is_number_integer());
  FUZZ_CHECK(r.args.is_array());
  switch (r.op) {
    case PageOp::kCreate:
    case PageOp::kResize:
    case PageOp::kScreen:
      FUZZ_CHECK(Side(r.width) && Side(r.height));
      break;
    case PageOp::kMouse:
      FUZZ_CHECK(r.x >= 0 && r.x <= kMaxControlSide && r.y >= 0 && r.y <= kMaxControlSide);
      FUZZ_CHECK(r.button >= 1 && r.button <= 3 && r.clicks >= 1 && r.clicks <= 2);
      break;
    case PageOp::kKey:
      FUZZ_CHECK(r.key >= 0 && r.key <= 255);
      break;
    case PageOp::kRecords:
      FUZZ_CHECK(!r.ip.empty() && Plain(r.ip, 63) && Plain(r.user, 63) && Plain(r.pwd, 63));
      FUZZ_CHECK(r.port >= 1 && r.port <= 65535);
      FUZZ_CHECK(ValidTime(r.from) && ValidTime(r.to));
      break;
    default:
      break;
  }
  if (r.op != PageOp::kCreate && r.op != PageOp::kRecords) FUZZ_CHECK(r.control >= 1);

  const auto message = nlohmann::json::parse(text, nullptr, false);
  FUZZ_CHECK(message.is_object());
  const auto id = message.find("id");
  FUZZ_CHECK(id != message.end() && id->is_number_integer() ? r.id == *id : r.id.is_null());
  switch (r.op) {
    case PageOp::kCreate:
    case PageOp::kResize:
    case PageOp::kScreen:
      FUZZ_CHECK(SameInt(message, "width", r.width) && SameInt(message, "height", r.height));
      break;
    case PageOp::kMouse:
      FUZZ_CHECK(SameInt(message, "x", r.x) && SameInt(message, "y", r.y));
      FUZZ_CHECK(SameInt(message, "button", r.button) && SameInt(message, "clicks", r.clicks));
      break;
    case PageOp::kKey:
      FUZZ_CHECK(SameInt(message, "key", r.key));
      break;
    case PageOp::kRecords:
      FUZZ_CHECK(SameInt(message, "port", r.port) && message["ip"] == r.ip && message["user"] == r.user);
      break;
    default:
      break;
  }
  if (r.op != PageOp::kCreate && r.op != PageOp::kRecords) FUZZ_CHECK(SameInt(message, "control", r.control));
  // What the host answers with echoes the id and must serialise.
  const nlohmann::json answer = {{"id", r.id}, {"ok", true}, {"result", r.value}};
  (void)answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void CheckTypeLibrary(std::string_view text) {
  const auto library = TypeLibrary::Parse(text);
  if (!library) return;
  FUZZ_CHECK(!library->methods().empty());
  for (const auto& m : library->methods()) {
    const auto* found = library->Method(m.name);
    FUZZ_CHECK(found != nullptr && found->name == m.name);
  }
  for (const auto& p : library->properties()) {
    const auto* found = library->Property(p.name);
    FUZZ_CHECK(found != nullptr && found->name == p.name);
    const auto* byId = library->PropertyById(p.dispid);
    FUZZ_CHECK(byId != nullptr && byId->dispid == p.dispid);
  }
  for (const auto& e : library->events()) {
    const auto* byId = library->EventById(e.dispid);
    FUZZ_CHECK(byId != nullptr && byId->dispid == e.dispid);
  }
  // The surface handed to pages is JSON with every member in it. Names
  // come from the file as they are and may not be valid UTF-8; the host
  // must not throw on them.
  std::string surface;
  try {
    surface = library->SurfaceJson();
  } catch (const nlohmann::json::exception& e) {
    std::fprintf(stderr, "SurfaceJson threw: %s\n", e.what());
    FUZZ_CHECK(false);
  }
  const auto parsed = nlohmann::json::parse(surface, nullptr, false);
  FUZZ_CHECK(parsed.is_object() && parsed["methods"].size() == library->methods().size());
  FUZZ_CHECK(parsed["properties"].size() == library->properties().size());
  FUZZ_CHECK(parsed["events"].size() == library->events().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckPageRequest(text);
  CheckTypeLibrary(text);
  CheckCalendarTime(text);
  if (size >= 2) CheckCalendarTime(text.substr(1, data[0] % 24));
  return 0;
}
