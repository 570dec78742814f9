// The value readers that pick `key=value` items out of a camera's answer
// body. Input: one byte K (key length, K % 64), K key bytes, then the body.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "net/transport/http_values.h"

namespace {

// atoi's reading of a number, saturating where atoi would overflow.
int referenceInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 1LL << 40) value = 1LL << 40;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t keySize = std::min<size_t>(data[0] % 64, size - 1);
  const std::string_view key(reinterpret_cast<const char*>(data + 1), keySize);
  const std::string_view body(reinterpret_cast<const char*>(data + 1 + keySize), size - 1 - keySize);
  const size_t at = body.find(key);
  const bool present = at != std::string_view::npos;

  // Into a fixed field whose size comes from the key's first byte, so that
  // cuts at every width are tried; the field is exactly that large.
  const size_t destSize = keySize == 0 ? 1 : static_cast<uint8_t>(key[0]) % 70;
  auto dest = std::make_unique<char[]>(destSize == 0 ? 1 : destSize);
  std::memset(dest.get(), 'x', destSize == 0 ? 1 : destSize);
  const int found = lumvara::stringValue(key, body, destSize == 0 ? nullptr : dest.get(), destSize);
  FUZZ_CHECK(found == (present ? 1 : 0));

  std::string text = "unchanged";
  FUZZ_CHECK(lumvara::stringValue(key, body, text) == found);
  if (present && text != "unchanged") {
    // A quoted value right after the key, taken whole.
    const std::string_view after = body.substr(at + key.size());
    FUZZ_CHECK(after.size() >= text.size() + 2 && after[0] == '"');
    FUZZ_CHECK(after.substr(1, text.size()) == text && after[text.size() + 1] == '"');
    if (destSize > 0) {
      const size_t kept = std::min(text.size(), destSize - 1);
      FUZZ_CHECK(std::memcmp(dest.get(), text.data(), kept) == 0 && dest[kept] == '\0');
    }
  }

  int number = -12345;
  FUZZ_CHECK(lumvara::intValue(key, body, number) == found);
  if (present) {
    std::string_view rest = body.substr(at + key.size());
    rest = rest.substr(0, rest.find(';'));
    FUZZ_CHECK(number == referenceInt(rest));
  } else {
    FUZZ_CHECK(number == -12345);
  }

  const int result = lumvara::resultValue(body);
  FUZZ_CHECK(result == 0 || result == -1);
  return 0;
}
