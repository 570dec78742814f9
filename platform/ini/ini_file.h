#pragma once
// Initialisation files: "[section]" lines, then "key=value" lines. Reading
// and writing follow the profile functions the control's settings were
// written against:
//   - a file, section or key that does not exist reads as the default;
//   - section and key names compare without regard to ASCII case; spaces
//     around names and values are ignored, and a value in double quotes
//     reads without them; lines starting with ';' are comments; carriage
//     returns at the end of a line are part of its line end;
//   - an integer is read from the value's leading digits (an optional sign,
//     decimal, or hexadecimal after "0x"); a value without digits reads as 0;
//   - integers are written with "%d";
//   - a write keeps every other line of the file as it was; it adds the
//     section at the end and the key at the end of its section when they
//     are missing, and creates the file (not its folder) when needed.
// A write replaces the whole file through a temporary file in the same
// folder and a rename, so a reader sees the old or the new file, never half
// of one. Writes in one process are serialised; between processes the last
// writer wins. Any thread.

#include <cstdint>
#include <string>

namespace lumvara::ini {

// The value of `key` in `section`, or `defaultValue`.
std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    const std::string& file);

// The integer value of `key` in `section`, or `defaultValue` when the key is
// missing. Values beyond 32 bits saturate.
int32_t GetPrivateProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                             const std::string& file);

// Sets `key` in `section` to `value`. False when the file cannot be written
// (the file is then unchanged).
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file);

// Writes `value` formatted with "%d".
bool WritePrivateProfileInt(const std::string& section, const std::string& key, int32_t value, const std::string& file);

}  // namespace lumvara::ini
