#include "net/device/param_records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "net/device/device_command.h"
#include "net/transport/http_request.h"
#include "net/transport/http_values.h"

namespace lumvara {
namespace {

// One field of a parameter record and the key its value follows in an
// answer. Texts take the quoted form, integers the form ended by ';'.
struct RecordField {
  const char* key;
  size_t offset;
  size_t width;  // 0: a 32-bit integer
};

#define TEXT_FIELD(key, type, member) \
  { key, offsetof(type, member), sizeof(type::member) }
#define INT_FIELD(key, type, member) \
  { key, offsetof(type, member), 0 }

constexpr RecordField kNetworkFields[] = {
    TEXT_FIELD("ip=", NetworkParams, ip),           TEXT_FIELD("mask=", NetworkParams, mask),
    TEXT_FIELD("gateway=", NetworkParams, gateway), TEXT_FIELD("dns1=", NetworkParams, dns1),
    TEXT_FIELD("dns2=", NetworkParams, dns2),       INT_FIELD("dhcpen=", NetworkParams, dhcp),
    INT_FIELD("port=", NetworkParams, port),
};

constexpr RecordField kUserFields[] = {
    TEXT_FIELD("user1_name=", UserParams, user1), TEXT_FIELD("user1_pwd=", UserParams, pwd1),
    TEXT_FIELD("user2_name=", UserParams, user2), TEXT_FIELD("user2_pwd=", UserParams, pwd2),
    TEXT_FIELD("user3_name=", UserParams, user3), TEXT_FIELD("user3_pwd=", UserParams, pwd3),
};

constexpr RecordField kDdnsFields[] = {
    INT_FIELD("ddns_service=", DdnsParams, service),
    TEXT_FIELD("ddns_user=", DdnsParams, user),
    TEXT_FIELD("ddns_pwd=", DdnsParams, pwd),
    TEXT_FIELD("ddns_host=", DdnsParams, host),
    TEXT_FIELD("ddns_proxy_svr=", DdnsParams, proxy_svr),
    INT_FIELD("ddns_mode=", DdnsParams, mode),
    INT_FIELD("ddns_proxy_port=", DdnsParams, proxy_port),
};

constexpr RecordField kFtpFields[] = {
    TEXT_FIELD("ftp_svr=", FtpParams, svr),
    TEXT_FIELD("ftp_user=", FtpParams, user),
    TEXT_FIELD("ftp_pwd=", FtpParams, pwd),
    TEXT_FIELD("ftp_dir=", FtpParams, dir),
    INT_FIELD("ftp_port=", FtpParams, port),
    INT_FIELD("ftp_mode=", FtpParams, mode),
    INT_FIELD("ftp_upload_interval=", FtpParams, upload_interval),
};

constexpr RecordField kMailFields[] = {
    TEXT_FIELD("mail_svr=", MailParams, svr),
    TEXT_FIELD("mail_user=", MailParams, user),
    TEXT_FIELD("mail_pwd=", MailParams, pwd),
    TEXT_FIELD("mail_sender=", MailParams, sender),
    TEXT_FIELD("mail_receiver1=", MailParams, receiver1),
    TEXT_FIELD("mail_receiver2=", MailParams, receiver2),
    TEXT_FIELD("mail_receiver3=", MailParams, receiver3),
    TEXT_FIELD("mail_receiver4=", MailParams, receiver4),
    INT_FIELD("mail_inet_ip=", MailParams, inet_ip),
    INT_FIELD("mail_port=", MailParams, port),
    INT_FIELD("mailssl=", MailParams, ssl),
};

constexpr RecordField kMiscFields[] = {
    INT_FIELD("led_mode=", MiscParams, led_mode),
    INT_FIELD("ptz_center_onstart=", MiscParams, ptz_center_onstart),
    INT_FIELD("ptruntimes=", MiscParams, ptz_run_times),
    INT_FIELD("ptz_patrol_rate=", MiscParams, ptz_patrol_rate),
    INT_FIELD("ptz_patrol_up_rate=", MiscParams, ptz_patrol_up_rate),
    INT_FIELD("ptz_patrol_down_rate=", MiscParams, ptz_patrol_down_rate),
    INT_FIELD("ptz_patrol_left_rate=", MiscParams, ptz_patrol_left_rate),
    INT_FIELD("ptz_patrol_right_rate=", MiscParams, ptz_patrol_right_rate),
    INT_FIELD("ptz_disppreset=", MiscParams, ptz_disppreset),
    INT_FIELD("preset_onstart=", MiscParams, preset_onstart),
};

#undef TEXT_FIELD
#undef INT_FIELD

struct ReadCommand {
  int code;
  const RecordField* fields;
  size_t fieldCount;
  int recordSize;
  int reportedAs;
};

template <size_t N>
constexpr ReadCommand readCommand(int code, const RecordField (&fields)[N], int size, int reportedAs) {
  return {code, fields, N, size, reportedAs};
}

constexpr ReadCommand kReadCommands[] = {
    readCommand(LUMVARA_CMD_GET_NETWORK, kNetworkFields, sizeof(NetworkParams), LUMVARA_CMD_GET_NETWORK),
    readCommand(LUMVARA_CMD_GET_USERS, kUserFields, sizeof(UserParams), LUMVARA_CMD_GET_USERS),
    readCommand(LUMVARA_CMD_GET_DDNS, kDdnsFields, sizeof(DdnsParams), LUMVARA_CMD_GET_DDNS),
    readCommand(LUMVARA_CMD_GET_FTP, kFtpFields, sizeof(FtpParams), LUMVARA_CMD_GET_FTP),
    readCommand(LUMVARA_CMD_GET_MAIL, kMailFields, sizeof(MailParams), LUMVARA_CMD_GET_MAIL),
    // Misc settings are reported under the mail set code, as cameras' clients expect.
    readCommand(LUMVARA_CMD_GET_MISC, kMiscFields, sizeof(MiscParams), LUMVARA_CMD_SET_MAIL),
};

const ReadCommand* findRead(int code) {
  for (const auto& read : kReadCommands) {
    if (read.code == code) return &read;
  }
  return nullptr;
}

bool fillField(const RecordField& field, std::string_view body, uint8_t* record) {
  if (field.width == 0) {
    int value = 0;
    if (!intValue(field.key, body, value)) return false;
    const int32_t stored = value;
    std::memcpy(record + field.offset, &stored, sizeof stored);
    return true;
  }
  return stringValue(field.key, body, reinterpret_cast<char*>(record + field.offset), field.width) != 0;
}

int32_t payloadInt(const uint8_t* payload, size_t offset) {
  int32_t value = 0;
  std::memcpy(&value, payload + offset, sizeof value);
  return value;
}

std::string payloadText(const uint8_t* payload, size_t offset, size_t width) {
  return fieldText(reinterpret_cast<const char*>(payload) + offset, width);
}

#define TEXT(type, member) payloadText(p, offsetof(type, member), sizeof(type::member)).c_str()
#define INT(type, member) payloadInt(p, offsetof(type, member))

std::optional<std::string> networkLine(const uint8_t* p, const char* user, const char* pwd) {
  return formatRequestLine(
      "GET set_network.cgi?loginuse=%s&loginpas=%s&ipaddr=%s&mask=%s&gateway=%s&dns1=%s&dns2=%s"
      "&dhcp=%d&port=%d HTTP/1.1\r\n",
      user, pwd, TEXT(NetworkParams, ip), TEXT(NetworkParams, mask), TEXT(NetworkParams, gateway),
      TEXT(NetworkParams, dns1), TEXT(NetworkParams, dns2), INT(NetworkParams, dhcp), INT(NetworkParams, port));
}

std::optional<std::string> usersLine(const uint8_t* p, const char* user, const char* pwd) {
  return formatRequestLine(
      "GET set_users.cgi?loginuse=%s&loginpas=%s&user1=%s&user2=%s&user3=%s&pwd1=%s&pwd2=%s"
      "&pwd3=%s HTTP/1.1\r\n",
      user, pwd, TEXT(UserParams, user1), TEXT(UserParams, user2), TEXT(UserParams, user3), TEXT(UserParams, pwd1),
      TEXT(UserParams, pwd2), TEXT(UserParams, pwd3));
}

std::optional<std::string> ddnsLine(const uint8_t* p, const char* user, const char* pwd) {
  return formatRequestLine(
      "GET set_ddns.cgi?loginuse=%s&loginpas=%s&service=%d&user=%s&pwd=%s&host=%s&proxy_svr=%s"
      "&proxy_port=%d&ddns_mode=%d HTTP/1.1\r\n",
      user, pwd, INT(DdnsParams, service), TEXT(DdnsParams, user), TEXT(DdnsParams, pwd), TEXT(DdnsParams, host),
      TEXT(DdnsParams, proxy_svr), INT(DdnsParams, proxy_port), INT(DdnsParams, mode));
}

std::optional<std::string> ftpLine(const uint8_t* p, const char* user, const char* pwd) {
  return formatRequestLine(
      "GET set_ftp.cgi?loginuse=%s&loginpas=%s&svr=%s&port=%d&user=%s&pwd=%s&dir=%s&mode=%d"
      "&upload_interval=%d HTTP/1.1\r\n",
      user, pwd, TEXT(FtpParams, svr), INT(FtpParams, port), TEXT(FtpParams, user), TEXT(FtpParams, pwd),
      TEXT(FtpParams, dir), INT(FtpParams, mode), INT(FtpParams, upload_interval));
}

std::optional<std::string> mailLine(const uint8_t* p, const char* user, const char* pwd) {
  return formatRequestLine(
      "GET set_mail.cgi?loginuse=%s&loginpas=%s&sender=%s&receiver1=%s&receiver2=%s&receiver3=%s"
      "&receiver4=%s&ssl=%d&svr=%s&smtpport=%d&user=%s&pwd=%s HTTP/1.1\r\n",
      user, pwd, TEXT(MailParams, sender), TEXT(MailParams, receiver1), TEXT(MailParams, receiver2),
      TEXT(MailParams, receiver3), TEXT(MailParams, receiver4), INT(MailParams, ssl), TEXT(MailParams, svr),
      INT(MailParams, port), TEXT(MailParams, user), TEXT(MailParams, pwd));
}

std::optional<std::string> miscLine(const uint8_t* p, const char* user, const char* pwd) {
  return formatRequestLine(
      "GET set_misc.cgi?loginuse=%s&loginpas=%s&ptz_patrol_rate=%d&ptz_patrol_up_rate=%d"
      "&ptz_patrol_down_rate=%d&ptz_patrol_left_rate=%d&ptz_patrol_right_rate=%d"
      "&ptz_dispreset=%d&ptz_preset=%d&led_mode=%d&ptz_run_times=%d HTTP/1.1\r\n",
      user, pwd, INT(MiscParams, ptz_patrol_rate), INT(MiscParams, ptz_patrol_up_rate),
      INT(MiscParams, ptz_patrol_down_rate), INT(MiscParams, ptz_patrol_left_rate),
      INT(MiscParams, ptz_patrol_right_rate), INT(MiscParams, ptz_disppreset), INT(MiscParams, preset_onstart),
      INT(MiscParams, led_mode), INT(MiscParams, ptz_run_times));
}

std::optional<std::string> wifiLine(const uint8_t* p, const char* user, const char* pwd) {
  return formatRequestLine(
      "GET set_wifi.cgi?loginuse=%s&loginpas=%s&enable=%d&ssid=%s&mode=%d&encrypt=%d&authtype=%d"
      "&keyformat=%d&defkey=%d&key1=%s&key2=%s&key3=%s&key4=%s&key1_bits=%d&key2_bits=%d"
      "&key3_bits=%d&key4_bits=%d&wpa_psk=%s HTTP/1.1\r\n",
      user, pwd, INT(WifiParams, enable), TEXT(WifiParams, ssid), INT(WifiParams, mode), INT(WifiParams, encrypt),
      INT(WifiParams, authtype), INT(WifiParams, keyformat), INT(WifiParams, defkey), TEXT(WifiParams, key1),
      TEXT(WifiParams, key2), TEXT(WifiParams, key3), TEXT(WifiParams, key4), INT(WifiParams, key1_bits),
      INT(WifiParams, key2_bits), INT(WifiParams, key3_bits), INT(WifiParams, key4_bits), TEXT(WifiParams, wpa_psk));
}

#undef TEXT
#undef INT

}  // namespace

bool isCameraControlCode(int code) {
  return (code >= 0 && code <= 7) || code == 11 || (code >= 25 && code <= 29) || (code >= 90 && code <= 95);
}

std::string fieldText(const char* field, size_t width) { return std::string(field, strnlen(field, width)); }

std::optional<std::string> readRequestLine(int code, const char* user, const char* pwd) {
  switch (code) {
    case LUMVARA_CMD_GET_NETWORK:
    case LUMVARA_CMD_GET_USERS:
    case LUMVARA_CMD_GET_DDNS:
    case LUMVARA_CMD_GET_FTP:
    case LUMVARA_CMD_GET_MAIL:
      return formatRequestLine("GET get_params.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", user, pwd);
    case LUMVARA_CMD_GET_MISC:
      return formatRequestLine("GET get_misc.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", user, pwd);
    case LUMVARA_CMD_GET_WIFI_SCAN:
      return formatRequestLine("GET get_wifi_scan_result.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", user, pwd);
    default:
      return std::nullopt;
  }
}

int readRecordSize(int code) {
  if (code == LUMVARA_CMD_GET_WIFI_SCAN) return sizeof(WifiScanResult);
  const ReadCommand* read = findRead(code);
  return read ? read->recordSize : 0;
}

int reportedCode(int readCode) {
  const ReadCommand* read = findRead(readCode);
  return read ? read->reportedAs : readCode;
}

bool fillReadRecord(int code, std::string_view body, void* record) {
  const ReadCommand* read = findRead(code);
  if (read == nullptr) return false;
  auto* bytes = static_cast<uint8_t*>(record);
  std::memset(bytes, 0, static_cast<size_t>(read->recordSize));
  for (size_t i = 0; i < read->fieldCount; ++i) {
    if (!fillField(read->fields[i], body, bytes)) return false;
  }
  return true;
}

bool fillWifiScan(std::string_view body, WifiScanResult& result) {
  std::memset(&result, 0, sizeof result);
  int count = 0;
  if (!intValue("ap_number=", body, count) || count == 0) return false;
  count = std::min(count, LUMVARA_WIFI_SCAN_MAX);
  char key[48];
  for (int i = 0; i < count; ++i) {
    WifiApEntry& entry = result.ap[i];
    // A missing key just leaves its field zero. The network name key is
    // written with a blank before the equals sign.
    std::snprintf(key, sizeof key, "ap_ssid[%d] =", i);
    stringValue(key, body, entry.ssid, sizeof entry.ssid);
    std::snprintf(key, sizeof key, "ap_mac[%d]=", i);
    stringValue(key, body, entry.mac, sizeof entry.mac);
    std::snprintf(key, sizeof key, "ap_security[%d]=", i);
    int security = 0;
    if (intValue(key, body, security)) entry.security = security;
    std::snprintf(key, sizeof key, "ap_dbm0[%d]=", i);
    stringValue(key, body, entry.dbm0, sizeof entry.dbm0);
    std::snprintf(key, sizeof key, "ap_dbm1[%d]=", i);
    stringValue(key, body, entry.dbm1, sizeof entry.dbm1);
    std::snprintf(key, sizeof key, "ap_mode[%d]=", i);
    int mode = 0;
    if (intValue(key, body, mode)) entry.mode = mode;
  }
  return true;
}

std::optional<std::string> setRequestLine(int code, const uint8_t* payload, size_t payloadLength, const char* user,
                                          const char* pwd) {
  const uint8_t* p = payload;
  switch (code) {
    case LUMVARA_CMD_SET_NETWORK:
      return networkLine(p, user, pwd);
    case LUMVARA_CMD_SET_USERS:
      return usersLine(p, user, pwd);
    case LUMVARA_CMD_SET_DDNS:
      return ddnsLine(p, user, pwd);
    case LUMVARA_CMD_SET_FTP:
      return ftpLine(p, user, pwd);
    case LUMVARA_CMD_SET_MAIL:
      return mailLine(p, user, pwd);
    case LUMVARA_CMD_SET_MISC:
      return miscLine(p, user, pwd);
    case LUMVARA_CMD_SET_WIFI:
      return wifiLine(p, user, pwd);
    case LUMVARA_CMD_SET_ALIAS:
      return formatRequestLine("GET set_alias.cgi?loginuse=%s&loginpas=%s&alias=%s HTTP/1.1\r\n", user, pwd,
                               payloadText(p, 0, payloadLength).c_str());
    default:
      return std::nullopt;
  }
}

bool isSetCode(int code) {
  switch (code) {
    case LUMVARA_CMD_SET_NETWORK:
    case LUMVARA_CMD_SET_USERS:
    case LUMVARA_CMD_SET_DDNS:
    case LUMVARA_CMD_SET_FTP:
    case LUMVARA_CMD_SET_MAIL:
    case LUMVARA_CMD_SET_MISC:
    case LUMVARA_CMD_SET_WIFI:
    case LUMVARA_CMD_SET_ALIAS:
      return true;
    default:
      return false;
  }
}

bool setNeedsReboot(int code) {
  return code == LUMVARA_CMD_SET_NETWORK || code == LUMVARA_CMD_SET_USERS || code == LUMVARA_CMD_SET_WIFI;
}

}  // namespace lumvara
