#pragma once
// Picking values out of a response body made of `key=value` items: strings
// in double quotes (`mask="255.255.255.0";`), integers as digits ended by a
// semicolon (`port=81;`). Keys are found by plain substring search, so
// `port=` also matches the end of a longer key that comes first.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumvara {

// 1 when `key` occurs in the body, else 0. When the text after the key is a
// quoted string, its characters (cut to destSize - 1, NUL-terminated) go to
// `dest`; otherwise `dest` is left as it was.
int stringValue(std::string_view key, std::string_view body, char* dest, size_t destSize);
int stringValue(std::string_view key, std::string_view body, std::string& dest);

// 1 when `key` occurs. The text after it up to the next semicolon (or the
// end of the body) is converted like atoi (0 when it is not a number) into
// `dest`.
int intValue(std::string_view key, std::string_view body, int& dest);

// 0 when the body's `result=` string holds "ok", else -1 (also when absent).
int resultValue(std::string_view body);

}  // namespace lumvara
