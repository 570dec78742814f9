#pragma once
// Class and interface identifiers: their text form "{8-4-4-4-12}" (upper
// case, as the registry stores them) and the 16-byte record.

#include <lumvara/module.h>

#include <string>

namespace lumvara::control {

// Braces optional, either case. False for anything else.
bool ParseGuid(const char* text, LumvaraGuid* guid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string FormatGuid(const LumvaraGuid& guid);
bool SameGuid(const LumvaraGuid& a, const LumvaraGuid& b);
// For constants known to be well formed.
LumvaraGuid GuidOf(const char* text);

}  // namespace lumvara::control
