#include "apps/cli/param_fields.h"

#include <lumvara/device.h>

#include <cstring>
#include <sstream>

namespace lumvara::cli {

namespace {

#define TEXT(record, field) \
  ParamField { #field, offsetof(record, field), sizeof(record::field) }
#define INT(record, field) \
  ParamField { #field, offsetof(record, field), 0 }

const std::vector<ParamGroup>& groups() {
  static const std::vector<ParamGroup> all = {
      {"network",
       LUMVARA_CMD_GET_NETWORK,
       LUMVARA_CMD_GET_NETWORK,
       LUMVARA_CMD_SET_NETWORK,
       sizeof(NetworkParams),
       {TEXT(NetworkParams, ip), TEXT(NetworkParams, mask), TEXT(NetworkParams, gateway), TEXT(NetworkParams, dns1),
        TEXT(NetworkParams, dns2), INT(NetworkParams, dhcp), INT(NetworkParams, port)}},
      {"users",
       LUMVARA_CMD_GET_USERS,
       LUMVARA_CMD_GET_USERS,
       LUMVARA_CMD_SET_USERS,
       sizeof(UserParams),
       {TEXT(UserParams, user1), TEXT(UserParams, pwd1), TEXT(UserParams, user2), TEXT(UserParams, pwd2),
        TEXT(UserParams, user3), TEXT(UserParams, pwd3)}},
      {"ddns",
       LUMVARA_CMD_GET_DDNS,
       LUMVARA_CMD_GET_DDNS,
       LUMVARA_CMD_SET_DDNS,
       sizeof(DdnsParams),
       {INT(DdnsParams, service), TEXT(DdnsParams, user), TEXT(DdnsParams, pwd), TEXT(DdnsParams, host),
        TEXT(DdnsParams, proxy_svr), INT(DdnsParams, mode), INT(DdnsParams, proxy_port)}},
      {"ftp",
       LUMVARA_CMD_GET_FTP,
       LUMVARA_CMD_GET_FTP,
       LUMVARA_CMD_SET_FTP,
       sizeof(FtpParams),
       {TEXT(FtpParams, svr), TEXT(FtpParams, user), TEXT(FtpParams, pwd), TEXT(FtpParams, dir), INT(FtpParams, port),
        INT(FtpParams, mode), INT(FtpParams, upload_interval)}},
      {"mail",
       LUMVARA_CMD_GET_MAIL,
       LUMVARA_CMD_GET_MAIL,
       LUMVARA_CMD_SET_MAIL,
       sizeof(MailParams),
       {TEXT(MailParams, svr), TEXT(MailParams, user), TEXT(MailParams, pwd), TEXT(MailParams, sender),
        TEXT(MailParams, receiver1), TEXT(MailParams, receiver2), TEXT(MailParams, receiver3),
        TEXT(MailParams, receiver4), INT(MailParams, inet_ip), INT(MailParams, port), INT(MailParams, ssl)}},
      // Misc settings are reported under the mail set code.
      {"misc",
       LUMVARA_CMD_GET_MISC,
       LUMVARA_CMD_SET_MAIL,
       LUMVARA_CMD_SET_MISC,
       sizeof(MiscParams),
       {INT(MiscParams, led_mode), INT(MiscParams, ptz_center_onstart), INT(MiscParams, ptz_run_times),
        INT(MiscParams, ptz_patrol_rate), INT(MiscParams, ptz_patrol_up_rate), INT(MiscParams, ptz_patrol_down_rate),
        INT(MiscParams, ptz_patrol_left_rate), INT(MiscParams, ptz_patrol_right_rate), INT(MiscParams, ptz_disppreset),
        INT(MiscParams, preset_onstart)}},
      {"wifi",
       -1,
       -1,
       LUMVARA_CMD_SET_WIFI,
       sizeof(WifiParams),
       {INT(WifiParams, enable), TEXT(WifiParams, ssid), INT(WifiParams, mode), INT(WifiParams, authtype),
        INT(WifiParams, encrypt), INT(WifiParams, keyformat), INT(WifiParams, defkey), TEXT(WifiParams, key1),
        TEXT(WifiParams, key2), TEXT(WifiParams, key3), TEXT(WifiParams, key4), INT(WifiParams, key1_bits),
        INT(WifiParams, key2_bits), INT(WifiParams, key3_bits), INT(WifiParams, key4_bits), TEXT(WifiParams, wpa_psk)}},
      {"wifi-scan", LUMVARA_CMD_GET_WIFI_SCAN, LUMVARA_CMD_GET_WIFI_SCAN, -1, sizeof(WifiScanResult), {}},
  };
  return all;
}

#undef TEXT
#undef INT

std::string textAt(const std::vector<uint8_t>& record, size_t offset, size_t size) {
  if (offset >= record.size()) {
    return {};
  }
  const size_t room = std::min(size, record.size() - offset);
  const char* start = reinterpret_cast<const char*>(record.data() + offset);
  return std::string(start, strnlen(start, room));
}

int32_t intAt(const std::vector<uint8_t>& record, size_t offset) {
  if (offset + 4 > record.size()) {
    return 0;
  }
  const uint8_t* p = record.data() + offset;
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

}  // namespace

const ParamGroup* findParamGroup(const std::string& name) {
  for (const auto& group : groups()) {
    if (name == group.name) {
      return &group;
    }
  }
  return nullptr;
}

std::vector<std::string> paramGroupNames(bool writable) {
  std::vector<std::string> names;
  for (const auto& group : groups()) {
    if ((writable ? group.setCode : group.getCode) >= 0) {
      names.emplace_back(group.name);
    }
  }
  return names;
}

std::string formatRecord(const ParamGroup& group, const std::vector<uint8_t>& record) {
  std::ostringstream out;
  for (const auto& field : group.fields) {
    out << field.name << " = ";
    if (field.isText()) {
      out << textAt(record, field.offset, field.size);
    } else {
      out << intAt(record, field.offset);
    }
    out << '\n';
  }
  return out.str();
}

nlohmann::ordered_json recordToJson(const ParamGroup& group, const std::vector<uint8_t>& record) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const auto& field : group.fields) {
    if (field.isText()) {
      object[field.name] = textAt(record, field.offset, field.size);
    } else {
      object[field.name] = intAt(record, field.offset);
    }
  }
  return object;
}

bool applyAssignment(const ParamGroup& group, std::vector<uint8_t>& record, const std::string& assignment,
                     std::string& error) {
  const size_t equals = assignment.find('=');
  if (equals == std::string::npos || equals == 0) {
    error = "expected FIELD=VALUE, got '" + assignment + "'";
    return false;
  }
  const std::string name = assignment.substr(0, equals);
  const std::string value = assignment.substr(equals + 1);
  for (const auto& field : group.fields) {
    if (name != field.name) {
      continue;
    }
    if (record.size() < group.recordSize) {
      record.resize(group.recordSize, 0);
    }
    if (field.isText()) {
      if (value.size() >= field.size) {
        error = name + " holds at most " + std::to_string(field.size - 1) + " bytes";
        return false;
      }
      std::memset(record.data() + field.offset, 0, field.size);
      std::memcpy(record.data() + field.offset, value.data(), value.size());
      return true;
    }
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number < INT32_MIN || number > INT32_MAX) {
      error = name + " must be an integer, got '" + value + "'";
      return false;
    }
    const auto bits = static_cast<uint32_t>(static_cast<int32_t>(number));
    uint8_t* p = record.data() + field.offset;
    p[0] = static_cast<uint8_t>(bits);
    p[1] = static_cast<uint8_t>(bits >> 8);
    p[2] = static_cast<uint8_t>(bits >> 16);
    p[3] = static_cast<uint8_t>(bits >> 24);
    return true;
  }
  error = "no field '" + name + "' in " + group.name;
  return false;
}

namespace {

template <typename Visit>
void forEachNetwork(const std::vector<uint8_t>& record, Visit visit) {
  for (size_t i = 0; i < LUMVARA_WIFI_SCAN_MAX; ++i) {
    const size_t base = i * sizeof(WifiApEntry);
    const std::string ssid = textAt(record, base + offsetof(WifiApEntry, ssid), sizeof(WifiApEntry::ssid));
    const std::string mac = textAt(record, base + offsetof(WifiApEntry, mac), sizeof(WifiApEntry::mac));
    if (ssid.empty() && mac.empty()) {
      continue;
    }
    visit(ssid, mac, intAt(record, base + offsetof(WifiApEntry, security)),
          textAt(record, base + offsetof(WifiApEntry, dbm0), sizeof(WifiApEntry::dbm0)),
          intAt(record, base + offsetof(WifiApEntry, mode)));
  }
}

}  // namespace

std::string formatWifiScan(const std::vector<uint8_t>& record) {
  std::ostringstream out;
  forEachNetwork(
      record, [&](const std::string& ssid, const std::string& mac, int security, const std::string& dbm, int mode) {
        out << ssid << "  mac=" << mac << " security=" << security << " signal=" << dbm << " mode=" << mode << '\n';
      });
  return out.str();
}

nlohmann::ordered_json wifiScanToJson(const std::vector<uint8_t>& record) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  forEachNetwork(
      record, [&](const std::string& ssid, const std::string& mac, int security, const std::string& dbm, int mode) {
        list.push_back({{"ssid", ssid}, {"mac", mac}, {"security", security}, {"signal", dbm}, {"mode", mode}});
      });
  return list;
}

}  // namespace lumvara::cli
