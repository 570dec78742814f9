#include "apps/camsim/camera_params.h"

#include <cstdio>
#include <cstdlib>
#include <set>

namespace lumvara::camsim {
namespace {

struct Default {
  const char* key;
  bool integer;
  const char* value;
};

// Answer order matters to readers that search plain substrings: "ip=" and
// "port=" must come before "mail_inet_ip=" and "ftp_port=", as cameras write them.
constexpr Default kParamDefaults[] = {
    {"ip", false, "127.0.0.1"},
    {"mask", false, "255.255.255.0"},
    {"gateway", false, "127.0.0.1"},
    {"dns1", false, "127.0.0.1"},
    {"dns2", false, "127.0.0.2"},
    {"dhcpen", true, "0"},
    {"port", true, "81"},
    {"alias", false, "Lumvara Simulator"},
    {"user1_name", false, "admin"},
    {"user1_pwd", false, ""},
    {"user2_name", false, "operator"},
    {"user2_pwd", false, "operator"},
    {"user3_name", false, "guest"},
    {"user3_pwd", false, "guest"},
    {"ddns_service", true, "0"},
    {"ddns_user", false, ""},
    {"ddns_pwd", false, ""},
    {"ddns_host", false, ""},
    {"ddns_proxy_svr", false, ""},
    {"ddns_mode", true, "0"},
    {"ddns_proxy_port", true, "0"},
    {"ftp_svr", false, ""},
    {"ftp_user", false, ""},
    {"ftp_pwd", false, ""},
    {"ftp_dir", false, "/"},
    {"ftp_port", true, "21"},
    {"ftp_mode", true, "0"},
    {"ftp_upload_interval", true, "0"},
    {"mail_svr", false, ""},
    {"mail_user", false, ""},
    {"mail_pwd", false, ""},
    {"mail_sender", false, ""},
    {"mail_receiver1", false, ""},
    {"mail_receiver2", false, ""},
    {"mail_receiver3", false, ""},
    {"mail_receiver4", false, ""},
    {"mail_inet_ip", true, "0"},
    {"mail_port", true, "25"},
    {"mailssl", true, "0"},
};

constexpr Default kMiscDefaults[] = {
    {"led_mode", true, "0"},
    {"ptz_center_onstart", true, "0"},
    {"ptruntimes", true, "0"},
    {"ptz_patrol_rate", true, "10"},
    {"ptz_patrol_up_rate", true, "10"},
    {"ptz_patrol_down_rate", true, "10"},
    {"ptz_patrol_left_rate", true, "10"},
    {"ptz_patrol_right_rate", true, "10"},
    {"ptz_disppreset", true, "0"},
    {"preset_onstart", true, "0"},
};

constexpr Default kWifiDefaults[] = {
    {"wifi_enable", true, "0"},    {"wifi_ssid", false, ""},      {"wifi_mode", true, "0"},
    {"wifi_encrypt", true, "0"},   {"wifi_authtype", true, "0"},  {"wifi_keyformat", true, "0"},
    {"wifi_defkey", true, "0"},    {"wifi_key1", false, ""},      {"wifi_key2", false, ""},
    {"wifi_key3", false, ""},      {"wifi_key4", false, ""},      {"wifi_key1_bits", true, "0"},
    {"wifi_key2_bits", true, "0"}, {"wifi_key3_bits", true, "0"}, {"wifi_key4_bits", true, "0"},
    {"wifi_wpa_psk", false, ""},
};

struct FieldMap {
  const char* cgi;
  const char* field;  // name in the set request
  const char* key;    // name in the stored state and the answers
};

constexpr FieldMap kSetFields[] = {
    {"set_network.cgi", "ipaddr", "ip"},
    {"set_network.cgi", "mask", "mask"},
    {"set_network.cgi", "gateway", "gateway"},
    {"set_network.cgi", "dns1", "dns1"},
    {"set_network.cgi", "dns2", "dns2"},
    {"set_network.cgi", "dhcp", "dhcpen"},
    {"set_network.cgi", "port", "port"},
    {"set_users.cgi", "user1", "user1_name"},
    {"set_users.cgi", "user2", "user2_name"},
    {"set_users.cgi", "user3", "user3_name"},
    {"set_users.cgi", "pwd1", "user1_pwd"},
    {"set_users.cgi", "pwd2", "user2_pwd"},
    {"set_users.cgi", "pwd3", "user3_pwd"},
    {"set_ddns.cgi", "service", "ddns_service"},
    {"set_ddns.cgi", "user", "ddns_user"},
    {"set_ddns.cgi", "pwd", "ddns_pwd"},
    {"set_ddns.cgi", "host", "ddns_host"},
    {"set_ddns.cgi", "proxy_svr", "ddns_proxy_svr"},
    {"set_ddns.cgi", "proxy_port", "ddns_proxy_port"},
    {"set_ddns.cgi", "ddns_mode", "ddns_mode"},
    {"set_ftp.cgi", "svr", "ftp_svr"},
    {"set_ftp.cgi", "port", "ftp_port"},
    {"set_ftp.cgi", "user", "ftp_user"},
    {"set_ftp.cgi", "pwd", "ftp_pwd"},
    {"set_ftp.cgi", "dir", "ftp_dir"},
    {"set_ftp.cgi", "mode", "ftp_mode"},
    {"set_ftp.cgi", "upload_interval", "ftp_upload_interval"},
    {"set_mail.cgi", "sender", "mail_sender"},
    {"set_mail.cgi", "receiver1", "mail_receiver1"},
    {"set_mail.cgi", "receiver2", "mail_receiver2"},
    {"set_mail.cgi", "receiver3", "mail_receiver3"},
    {"set_mail.cgi", "receiver4", "mail_receiver4"},
    {"set_mail.cgi", "ssl", "mailssl"},
    {"set_mail.cgi", "svr", "mail_svr"},
    {"set_mail.cgi", "smtpport", "mail_port"},
    {"set_mail.cgi", "user", "mail_user"},
    {"set_mail.cgi", "pwd", "mail_pwd"},
    {"set_misc.cgi", "ptz_patrol_rate", "ptz_patrol_rate"},
    {"set_misc.cgi", "ptz_patrol_up_rate", "ptz_patrol_up_rate"},
    {"set_misc.cgi", "ptz_patrol_down_rate", "ptz_patrol_down_rate"},
    {"set_misc.cgi", "ptz_patrol_left_rate", "ptz_patrol_left_rate"},
    {"set_misc.cgi", "ptz_patrol_right_rate", "ptz_patrol_right_rate"},
    {"set_misc.cgi", "ptz_dispreset", "ptz_disppreset"},
    {"set_misc.cgi", "ptz_preset", "preset_onstart"},
    {"set_misc.cgi", "led_mode", "led_mode"},
    {"set_misc.cgi", "ptz_run_times", "ptruntimes"},
    {"set_wifi.cgi", "enable", "wifi_enable"},
    {"set_wifi.cgi", "ssid", "wifi_ssid"},
    {"set_wifi.cgi", "mode", "wifi_mode"},
    {"set_wifi.cgi", "encrypt", "wifi_encrypt"},
    {"set_wifi.cgi", "authtype", "wifi_authtype"},
    {"set_wifi.cgi", "keyformat", "wifi_keyformat"},
    {"set_wifi.cgi", "defkey", "wifi_defkey"},
    {"set_wifi.cgi", "key1", "wifi_key1"},
    {"set_wifi.cgi", "key2", "wifi_key2"},
    {"set_wifi.cgi", "key3", "wifi_key3"},
    {"set_wifi.cgi", "key4", "wifi_key4"},
    {"set_wifi.cgi", "key1_bits", "wifi_key1_bits"},
    {"set_wifi.cgi", "key2_bits", "wifi_key2_bits"},
    {"set_wifi.cgi", "key3_bits", "wifi_key3_bits"},
    {"set_wifi.cgi", "key4_bits", "wifi_key4_bits"},
    {"set_wifi.cgi", "wpa_psk", "wifi_wpa_psk"},
    {"set_alias.cgi", "alias", "alias"},
};

const std::set<std::string>& IntegerKeys() {
  static const std::set<std::string> keys = [] {
    std::set<std::string> all;
    for (const Default& d : kParamDefaults)
      if (d.integer) all.insert(d.key);
    for (const Default& d : kMiscDefaults)
      if (d.integer) all.insert(d.key);
    for (const Default& d : kWifiDefaults)
      if (d.integer) all.insert(d.key);
    return all;
  }();
  return keys;
}

template <size_t N>
std::vector<std::string> KeysOf(const Default (&table)[N]) {
  std::vector<std::string> keys;
  for (const Default& d : table) keys.push_back(d.key);
  return keys;
}

}  // namespace

CameraParams::CameraParams() {
  for (const Default& d : kParamDefaults) values_[d.key] = d.value;
  for (const Default& d : kMiscDefaults) values_[d.key] = d.value;
  for (const Default& d : kWifiDefaults) values_[d.key] = d.value;
}

std::string CameraParams::get(const std::string& key) const {
  auto it = values_.find(key);
  return it == values_.end() ? std::string() : it->second;
}

void CameraParams::set(const std::string& key, const std::string& value) {
  // Integers are stored the way the camera prints them back.
  if (IntegerKeys().count(key) != 0) {
    values_[key] = std::to_string(std::atoi(value.c_str()));
  } else {
    values_[key] = value;
  }
}

bool CameraParams::IsSetCgi(const std::string& cgi) {
  for (const FieldMap& f : kSetFields) {
    if (cgi == f.cgi) return true;
  }
  return false;
}

bool CameraParams::applySet(const HttpRequest& request) {
  if (!IsSetCgi(request.cgi)) return false;
  for (const FieldMap& f : kSetFields) {
    if (request.cgi == f.cgi && request.has(f.field)) set(f.key, request.value(f.field));
  }
  return true;
}

std::string CameraParams::render(const std::vector<std::string>& keys) const {
  const auto& integers = IntegerKeys();
  std::string body;
  for (const std::string& key : keys) {
    const std::string value = get(key);
    if (integers.count(key) != 0) {
      body += "var " + key + "=" + value + ";\r\n";
    } else {
      body += "var " + key + "=\"" + value + "\";\r\n";
    }
  }
  return body;
}

std::string CameraParams::paramsBody() const { return render(KeysOf(kParamDefaults)); }

std::string CameraParams::miscBody() const { return render(KeysOf(kMiscDefaults)); }

std::string WifiScanBody(int count) {
  std::string body = "var ap_number=" + std::to_string(count) + ";\r\n";
  char line[160];
  for (int i = 0; i < count; ++i) {
    // The network name key carries a blank before its equals sign, as cameras write it.
    std::snprintf(line, sizeof line, "var ap_ssid[%d] =\"Network-%d\";\r\n", i, i);
    body += line;
    std::snprintf(line, sizeof line, "var ap_mac[%d]=\"02:00:00:00:%02X:%02X\";\r\n", i, (i >> 8) & 0xFF, i & 0xFF);
    body += line;
    std::snprintf(line, sizeof line, "var ap_security[%d]=%d;\r\n", i, i % 4);
    body += line;
    std::snprintf(line, sizeof line, "var ap_dbm0[%d]=\"%d\";\r\n", i, 90 - (i % 60));
    body += line;
    std::snprintf(line, sizeof line, "var ap_dbm1[%d]=\"%d\";\r\n", i, -40 - (i % 50));
    body += line;
    std::snprintf(line, sizeof line, "var ap_mode[%d]=%d;\r\n", i, i % 2);
    body += line;
  }
  return body;
}

}  // namespace lumvara::camsim
