#pragma once
// The camera parameter groups the CLI reads and writes, each described as a
// table of named fields over its fixed-layout record.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumvara::cli {

struct ParamField {
  const char* name;
  size_t offset;
  size_t size;  // text: bytes of the field; integer: 0
  bool isText() const { return size > 0; }
};

struct ParamGroup {
  const char* name;
  int getCode;     // -1: cannot be read
  int reportCode;  // code the record is reported under
  int setCode;     // -1: cannot be written
  size_t recordSize;
  std::vector<ParamField> fields;
};

// Every group by name; null when unknown.
const ParamGroup* findParamGroup(const std::string& name);
std::vector<std::string> paramGroupNames(bool writable);

// "name = value" lines, and the same as a JSON object.
std::string formatRecord(const ParamGroup& group, const std::vector<uint8_t>& record);
nlohmann::ordered_json recordToJson(const ParamGroup& group, const std::vector<uint8_t>& record);

// Applies "name=value" to the record; false with a reason for an unknown
// field, a non-number for an integer, or a text too long for its field.
bool applyAssignment(const ParamGroup& group, std::vector<uint8_t>& record, const std::string& assignment,
                     std::string& error);

// The Wi-Fi scan, one entry per network the camera reported.
std::string formatWifiScan(const std::vector<uint8_t>& record);
nlohmann::ordered_json wifiScanToJson(const std::vector<uint8_t>& record);

}  // namespace lumvara::cli
