#include "control/module/guid.h"

#include <cstdio>
#include <cstring>

namespace lumvara::control {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseGuid(const char* text, LumvaraGuid* guid) {
  if (!text || !guid) return false;
  size_t length = std::strlen(text);
  const bool braces = length == 38 && text[0] == '{' && text[37] == '}';
  if (braces) {
    ++text;
    length = 36;
  }
  if (length != 36) return false;
  // 32 hex digits with dashes after digits 8, 12, 16 and 20.
  uint8_t bytes[16] = {};
  int digit = 0;
  for (size_t i = 0; i < 36; ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      continue;
    }
    const int value = HexDigit(text[i]);
    if (value < 0) return false;
    bytes[digit / 2] = static_cast<uint8_t>(bytes[digit / 2] << 4 | value);
    ++digit;
  }
  guid->Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  guid->Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid->Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid->Data4, bytes + 8, 8);
  return true;
}

std::string FormatGuid(const LumvaraGuid& guid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

bool SameGuid(const LumvaraGuid& a, const LumvaraGuid& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

LumvaraGuid GuidOf(const char* text) {
  LumvaraGuid guid{};
  ParseGuid(text, &guid);
  return guid;
}

}  // namespace lumvara::control
