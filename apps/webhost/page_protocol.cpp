#include "apps/webhost/page_protocol.h"

#include <climits>

namespace lumvara::webhost {
namespace {

using nlohmann::json;

// How deep a page message may nest; real ones nest two or three levels.
constexpr int kMaxMessageDepth = 32;

struct OpName {
  const char* name;
  PageOp op;
  bool answered;
};

constexpr OpName kOps[] = {
    {"create", PageOp::kCreate, true},   {"call", PageOp::kCall, true},
    {"put", PageOp::kPut, true},         {"playDemo", PageOp::kPlayDemo, true},
    {"destroy", PageOp::kDestroy, true}, {"drawn", PageOp::kDrawn, false},
    {"mouse", PageOp::kMouse, false},    {"key", PageOp::kKey, false},
    {"resize", PageOp::kResize, false},  {"records", PageOp::kRecords, true},
    {"screen", PageOp::kScreen, false},  {"propertyPage", PageOp::kPropertyPage, true},
};

bool Text(const json& object, const char* key, size_t maxBytes, std::string* out) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return false;
  *out = it->get<std::string>();
  return out->size() <= maxBytes && out->find('\0') == std::string::npos;
}

bool Digits(std::string_view text, size_t at, size_t count, int* out) {
  if (at + count > text.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = v;
  return true;
}

// An integer field within [lo, hi].
bool Int(const json& object, const char* key, int lo, int hi, int* out) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return false;
  const int64_t v = it->get<int64_t>();
  if (v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

bool Fail(std::string* problem, const std::string& why) {
  *problem = why;
  return false;
}

}  // namespace

bool ParsePageRequest(std::string_view text, PageRequest* out, std::string* problem) {
  *out = PageRequest{};
  // Values nested deeper than any real message are left out while parsing
  // and the message refused: copying a kept field recurses once a level, and
  // a message of the host's largest size could otherwise nest tens of
  // thousands of levels and overflow the stack.
  bool tooDeep = false;
  const json::parser_callback_t depthLimit = [&tooDeep](int depth, json::parse_event_t, json&) {
    if (depth <= kMaxMessageDepth) return true;
    tooDeep = true;
    return false;
  };
  const json message = json::parse(text.begin(), text.end(), depthLimit, /*allow_exceptions=*/false);
  if (message.is_discarded()) return Fail(problem, "malformed JSON");
  if (!message.is_object()) return Fail(problem, "a message is a JSON object");
  auto id = message.find("id");
  const bool hasId = id != message.end() && id->is_number_integer();
  if (hasId) out->id = *id;
  if (tooDeep) return Fail(problem, "nested too deep");
  auto opField = message.find("op");
  if (opField == message.end() || !opField->is_string()) return Fail(problem, "missing op");
  const std::string op = opField->get<std::string>();
  const OpName* known = nullptr;
  for (const OpName& o : kOps) {
    if (op == o.name) known = &o;
  }
  if (known == nullptr) return Fail(problem, "unknown op");
  out->op = known->op;
  if (known->answered && !hasId) return Fail(problem, "missing id");

  if (out->op == PageOp::kRecords) {
    // Connection fields are 64-byte records on the camera side.
    if (!Text(message, "ip", 63, &out->ip) || out->ip.empty() || !Text(message, "user", 63, &out->user) ||
        !Text(message, "pwd", 63, &out->pwd) || !Int(message, "port", 1, 65535, &out->port)) {
      return Fail(problem, "records needs ip, port, user and pwd");
    }
    std::string from, to;
    if (!Text(message, "from", 32, &from) || !Text(message, "to", 32, &to) || !ParseCalendarTime(from, &out->from) ||
        !ParseCalendarTime(to, &out->to)) {
      return Fail(problem, "records needs from and to as YYYY-MM-DDTHH:MM");
    }
    return true;
  }
  if (out->op == PageOp::kCreate) {
    if (!Int(message, "width", 1, kMaxControlSide, &out->width) ||
        !Int(message, "height", 1, kMaxControlSide, &out->height)) {
      return Fail(problem, "width and height must be 1 to " + std::to_string(kMaxControlSide));
    }
    return true;
  }
  if (!Int(message, "control", 1, INT_MAX, &out->control)) return Fail(problem, "missing control");
  switch (out->op) {
    case PageOp::kCall: {
      auto name = message.find("name");
      if (name == message.end() || !name->is_string()) return Fail(problem, "missing name");
      out->name = name->get<std::string>();
      auto args = message.find("args");
      if (args != message.end()) {
        if (!args->is_array()) return Fail(problem, "args must be an array");
        out->args = *args;
      }
      return true;
    }
    case PageOp::kPut: {
      auto name = message.find("name");
      if (name == message.end() || !name->is_string()) return Fail(problem, "missing name");
      out->name = name->get<std::string>();
      auto value = message.find("value");
      if (value == message.end()) return Fail(problem, "missing value");
      out->value = *value;
      return true;
    }
    case PageOp::kMouse:
      if (!Int(message, "x", 0, kMaxControlSide, &out->x) || !Int(message, "y", 0, kMaxControlSide, &out->y) ||
          !Int(message, "button", 1, 3, &out->button) || !Int(message, "clicks", 1, 2, &out->clicks)) {
        return Fail(problem, "mouse needs x, y, button 1-3 and clicks 1-2");
      }
      return true;
    case PageOp::kKey:
      if (!Int(message, "key", 0, 255, &out->key)) return Fail(problem, "key needs a virtual key code");
      return true;
    case PageOp::kResize:
    case PageOp::kScreen:
    case PageOp::kPropertyPage:
      if (!Int(message, "width", 1, kMaxControlSide, &out->width) ||
          !Int(message, "height", 1, kMaxControlSide, &out->height)) {
        return Fail(problem, "width and height must be 1 to " + std::to_string(kMaxControlSide));
      }
      return true;
    default:
      return true;
  }
}

bool ParseCalendarTime(std::string_view t, CalendarTime* out) {
  CalendarTime c;
  if (t.size() != 16 && t.size() != 19) return false;
  if (t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':') return false;
  if (!Digits(t, 0, 4, &c.year) || !Digits(t, 5, 2, &c.month) || !Digits(t, 8, 2, &c.day) ||
      !Digits(t, 11, 2, &c.hour) || !Digits(t, 14, 2, &c.minute)) {
    return false;
  }
  if (t.size() == 19 && (t[16] != ':' || !Digits(t, 17, 2, &c.second))) return false;
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 || c.minute > 59 || c.second > 59) {
    return false;
  }
  *out = c;
  return true;
}

}  // namespace lumvara::webhost
