#pragma once
// Camera parameter records: filling them from a camera's answer body, and
// building the request lines of the set commands from a caller's payload.
// Pure functions over text and bytes; the command worker does the I/O.

#include <lumvara/device.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumvara {

// The request line that reads the record of `code` (get_params.cgi,
// get_misc.cgi, get_wifi_scan_result.cgi), or nothing for other codes.
std::optional<std::string> readRequestLine(int code, const char* user, const char* pwd);

// The size of the record a read code reports (0 for other codes).
int readRecordSize(int code);
// The code a read code's record is reported under.
int reportedCode(int readCode);

// Clears `record` (readRecordSize(code) bytes) and fills it from the body,
// one key after the other. False as soon as a key is missing: the record is
// then not to be reported.
bool fillReadRecord(int code, std::string_view body, void* record);

// Fills a Wi-Fi scan result. False when there is nothing to report (count
// missing or 0); a negative count reports every entry zero; counts above
// LUMVARA_WIFI_SCAN_MAX are cut to it.
bool fillWifiScan(std::string_view body, WifiScanResult& result);

// The request line of a set code, built from the payload (kCommandPayloadSize
// bytes, zero after the caller's). Nothing for codes that are not set codes,
// or when the line cannot be built (line breaks, too long).
std::optional<std::string> setRequestLine(int code, const uint8_t* payload, size_t payloadLength, const char* user,
                                          const char* pwd);

bool isSetCode(int code);

// Set codes whose acceptance is followed by a reboot of the camera.
bool setNeedsReboot(int code);

// Text of a fixed-width field: up to its first NUL, never past `width`.
std::string fieldText(const char* field, size_t width);

}  // namespace lumvara
