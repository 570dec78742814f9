#include "net/transport/http_values.h"

#include <climits>
#include <cstring>

namespace lumvara {

namespace {

// The quoted text right after `key`, or nothing when the text there is not
// of the shape key"...".
bool quotedAfterKey(std::string_view key, std::string_view body, bool& found, std::string_view& value) {
  const size_t pos = body.find(key);
  found = pos != std::string_view::npos;
  if (!found) {
    return false;
  }
  const size_t open = pos + key.size();
  if (open >= body.size() || body[open] != '"') {
    return false;
  }
  const size_t close = body.find('"', open + 1);
  if (close == std::string_view::npos) {
    return false;
  }
  value = body.substr(open + 1, close - open - 1);
  return true;
}

// atoi rules, saturating instead of overflowing.
int toInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) {
      value = static_cast<long long>(INT_MAX) + 1;
    }
  }
  if (negative) {
    value = -value;
  }
  if (value > INT_MAX) {
    return INT_MAX;
  }
  return static_cast<int>(value);
}

}  // namespace

int stringValue(std::string_view key, std::string_view body, char* dest, size_t destSize) {
  bool found = false;
  std::string_view value;
  if (!quotedAfterKey(key, body, found, value)) {
    return found ? 1 : 0;
  }
  if (dest != nullptr && destSize > 0) {
    const size_t size = value.size() < destSize - 1 ? value.size() : destSize - 1;
    std::memcpy(dest, value.data(), size);
    dest[size] = '\0';
  }
  return 1;
}

int stringValue(std::string_view key, std::string_view body, std::string& dest) {
  bool found = false;
  std::string_view value;
  if (quotedAfterKey(key, body, found, value)) {
    dest.assign(value);
  }
  return found ? 1 : 0;
}

int intValue(std::string_view key, std::string_view body, int& dest) {
  const size_t pos = body.find(key);
  if (pos == std::string_view::npos) {
    return 0;
  }
  const std::string_view rest = body.substr(pos + key.size());
  dest = toInt(rest.substr(0, rest.find(';')));
  return 1;
}

int resultValue(std::string_view body) {
  std::string result;
  if (stringValue("result=", body, result) == 0) {
    return -1;
  }
  return result.find("ok") != std::string::npos ? 0 : -1;
}

}  // namespace lumvara
