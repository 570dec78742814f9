// Parameter records: filling them from answer bodies and building the
// request lines of set commands from payloads.

#include <gtest/gtest.h>
#include <lumvara/device.h>

#include <cstring>
#include <string>

#include "net/device/device_command.h"
#include "net/device/param_records.h"
#include "net/device/record_dates.h"

namespace lumvara::test {
namespace {

const std::string kNetworkBody =
    "var ip=\"192.0.2.7\";\r\nvar mask=\"255.255.255.0\";\r\nvar gateway=\"192.0.2.1\";\r\n"
    "var dns1=\"192.0.2.53\";\r\nvar dns2=\"192.0.2.54\";\r\nvar dhcpen=1;\r\nvar port=81;\r\n";

TEST(ParamRecords, NetworkRecordFilledFromAnswer) {
  NetworkParams record;
  std::memset(&record, 0xEE, sizeof record);
  ASSERT_TRUE(fillReadRecord(LUMVARA_CMD_GET_NETWORK, kNetworkBody, &record));
  EXPECT_STREQ(record.ip, "192.0.2.7");
  EXPECT_STREQ(record.mask, "255.255.255.0");
  EXPECT_STREQ(record.gateway, "192.0.2.1");
  EXPECT_STREQ(record.dns1, "192.0.2.53");
  EXPECT_STREQ(record.dns2, "192.0.2.54");
  EXPECT_EQ(record.dhcp, 1);
  EXPECT_EQ(record.port, 81);
  EXPECT_EQ(record.reserved, 0) << "the record is cleared first";
  EXPECT_EQ(readRecordSize(LUMVARA_CMD_GET_NETWORK), 332);
}

TEST(ParamRecords, MissingKeyMeansNoRecord) {
  std::string body = kNetworkBody;
  body.erase(body.find("var dns2"), std::string("var dns2=\"192.0.2.54\";\r\n").size());
  NetworkParams record;
  EXPECT_FALSE(fillReadRecord(LUMVARA_CMD_GET_NETWORK, body, &record));
}

TEST(ParamRecords, TextLongerThanItsFieldIsCut) {
  const std::string longName(200, 'u');
  const std::string body = "user1_name=\"" + longName +
                           "\";user1_pwd=\"p\";user2_name=\"\";"
                           "user2_pwd=\"\";user3_name=\"\";user3_pwd=\"\";";
  UserParams record;
  ASSERT_TRUE(fillReadRecord(LUMVARA_CMD_GET_USERS, body, &record));
  EXPECT_EQ(std::string(record.user1), longName.substr(0, 63));
  EXPECT_STREQ(record.pwd1, "p") << "the cut text did not run into the next field";
}

TEST(ParamRecords, MiscIsReadFromGetMiscAndReportedUnderMailSetCode) {
  const std::string body =
      "led_mode=2;ptz_center_onstart=1;ptruntimes=3;ptz_patrol_rate=4;ptz_patrol_up_rate=5;"
      "ptz_patrol_down_rate=6;ptz_patrol_left_rate=7;ptz_patrol_right_rate=8;ptz_disppreset=9;"
      "preset_onstart=10;";
  MiscParams record;
  ASSERT_TRUE(fillReadRecord(LUMVARA_CMD_GET_MISC, body, &record));
  const int32_t expected[11] = {2, 1, 0, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(std::memcmp(&record, expected, sizeof expected), 0);
  EXPECT_EQ(reportedCode(LUMVARA_CMD_GET_MISC), 0x2008);
  EXPECT_EQ(readRecordSize(LUMVARA_CMD_GET_MISC), 44);
  EXPECT_EQ(*readRequestLine(LUMVARA_CMD_GET_MISC, "u", "p"), "GET get_misc.cgi?loginuse=u&loginpas=p HTTP/1.1\r\n");
}

TEST(ParamRecords, WifiScanCounts) {
  struct Case {
    const char* name;
    std::string body;
    bool reported;
    int filled;
  };
  std::string many = "ap_number=150;";
  for (int i = 0; i < 150; ++i) {
    many += "ap_ssid[" + std::to_string(i) + "] =\"net" + std::to_string(i) + "\";";
  }
  const Case cases[] = {
      {"three",
       "ap_number=3;ap_ssid[0] =\"a\";ap_mac[0]=\"m0\";ap_security[0]=2;ap_dbm0[0]=\"-40\";"
       "ap_dbm1[0]=\"x\";ap_mode[0]=1;ap_ssid[1] =\"b\";ap_ssid[2] =\"c\";",
       true, 3},
      {"missing count", "ap_ssid[0] =\"a\";", false, 0},
      {"zero", "ap_number=0;ap_ssid[0] =\"a\";", false, 0},
      {"negative", "ap_number=-2;ap_ssid[0] =\"a\";", true, 0},
      {"above the room", many, true, 100},
  };
  for (const auto& c : cases) {
    WifiScanResult result;
    EXPECT_EQ(fillWifiScan(c.body, result), c.reported) << c.name;
    for (int i = 0; i < LUMVARA_WIFI_SCAN_MAX; ++i) {
      EXPECT_EQ(result.ap[i].ssid[0] != 0, i < c.filled) << c.name << " entry " << i;
    }
  }
  WifiScanResult result;
  fillWifiScan(cases[0].body, result);
  EXPECT_STREQ(result.ap[0].mac, "m0");
  EXPECT_EQ(result.ap[0].security, 2);
  EXPECT_STREQ(result.ap[0].dbm0, "-40");
  EXPECT_EQ(result.ap[0].mode, 1);
  EXPECT_STREQ(result.ap[2].ssid, "c");
}

template <typename Record>
std::array<uint8_t, kCommandPayloadSize> payloadOf(const Record& record) {
  std::array<uint8_t, kCommandPayloadSize> payload{};
  std::memcpy(payload.data(), &record, sizeof record);
  return payload;
}

TEST(ParamRecords, SetRequestLines) {
  NetworkParams network{};
  std::strcpy(network.ip, "192.0.2.9");
  std::strcpy(network.mask, "255.255.255.0");
  std::strcpy(network.gateway, "192.0.2.1");
  std::strcpy(network.dns1, "192.0.2.2");
  std::strcpy(network.dns2, "192.0.2.3");
  network.dhcp = 0;
  network.port = 8080;
  UserParams users{};
  std::strcpy(users.user1, "a");
  std::strcpy(users.pwd1, "b");
  std::strcpy(users.user3, "c");
  DdnsParams ddns{};
  ddns.service = 3;
  std::strcpy(ddns.user, "du");
  std::strcpy(ddns.pwd, "dp");
  std::strcpy(ddns.host, "dh");
  std::strcpy(ddns.proxy_svr, "ps");
  ddns.mode = 1;
  ddns.proxy_port = 9;
  FtpParams ftp{};
  std::strcpy(ftp.svr, "fs");
  std::strcpy(ftp.user, "fu");
  std::strcpy(ftp.pwd, "fp");
  std::strcpy(ftp.dir, "/d");
  ftp.port = 21;
  ftp.mode = 1;
  ftp.upload_interval = 30;
  MailParams mail{};
  std::strcpy(mail.svr, "ms");
  std::strcpy(mail.user, "mu");
  std::strcpy(mail.pwd, "mp");
  std::strcpy(mail.sender, "s@x");
  std::strcpy(mail.receiver1, "r1");
  std::strcpy(mail.receiver4, "r4");
  mail.inet_ip = 7;
  mail.port = 25;
  mail.ssl = 1;
  MiscParams misc{1, 2, 0, 3, 4, 5, 6, 7, 8, 9, 10};
  WifiParams wifi{};
  wifi.enable = 1;
  std::strcpy(wifi.ssid, "home");
  wifi.mode = 0;
  wifi.authtype = 2;
  wifi.encrypt = 3;
  wifi.keyformat = 1;
  wifi.defkey = 1;
  std::strcpy(wifi.key1, "k1");
  wifi.key1_bits = 64;
  std::strcpy(wifi.wpa_psk, "passphrase");

  struct Case {
    int code;
    std::array<uint8_t, kCommandPayloadSize> payload;
    size_t length;
    const char* line;
  };
  std::array<uint8_t, kCommandPayloadSize> alias{};
  std::memcpy(alias.data(), "Front door", 10);
  const Case cases[] = {
      {0x2000, payloadOf(network), sizeof network,
       "GET set_network.cgi?loginuse=u&loginpas=p&ipaddr=192.0.2.9&mask=255.255.255.0"
       "&gateway=192.0.2.1&dns1=192.0.2.2&dns2=192.0.2.3&dhcp=0&port=8080 HTTP/1.1\r\n"},
      {0x2002, payloadOf(users), sizeof users,
       "GET set_users.cgi?loginuse=u&loginpas=p&user1=a&user2=&user3=c&pwd1=b&pwd2=&pwd3= "
       "HTTP/1.1\r\n"},
      {0x2004, payloadOf(ddns), sizeof ddns,
       "GET set_ddns.cgi?loginuse=u&loginpas=p&service=3&user=du&pwd=dp&host=dh&proxy_svr=ps"
       "&proxy_port=9&ddns_mode=1 HTTP/1.1\r\n"},
      {0x2006, payloadOf(ftp), sizeof ftp,
       "GET set_ftp.cgi?loginuse=u&loginpas=p&svr=fs&port=21&user=fu&pwd=fp&dir=/d&mode=1"
       "&upload_interval=30 HTTP/1.1\r\n"},
      {0x2008, payloadOf(mail), sizeof mail,
       "GET set_mail.cgi?loginuse=u&loginpas=p&sender=s@x&receiver1=r1&receiver2=&receiver3="
       "&receiver4=r4&ssl=1&svr=ms&smtpport=25&user=mu&pwd=mp HTTP/1.1\r\n"},
      {0x2010, payloadOf(misc), sizeof misc,
       "GET set_misc.cgi?loginuse=u&loginpas=p&ptz_patrol_rate=4&ptz_patrol_up_rate=5"
       "&ptz_patrol_down_rate=6&ptz_patrol_left_rate=7&ptz_patrol_right_rate=8&ptz_dispreset=9"
       "&ptz_preset=10&led_mode=1&ptz_run_times=3 HTTP/1.1\r\n"},
      {0x2012, payloadOf(wifi), sizeof wifi,
       "GET set_wifi.cgi?loginuse=u&loginpas=p&enable=1&ssid=home&mode=0&encrypt=3&authtype=2"
       "&keyformat=1&defkey=1&key1=k1&key2=&key3=&key4=&key1_bits=64&key2_bits=0&key3_bits=0"
       "&key4_bits=0&wpa_psk=passphrase HTTP/1.1\r\n"},
      {0x2702, alias, 64, "GET set_alias.cgi?loginuse=u&loginpas=p&alias=Front door HTTP/1.1\r\n"},
  };
  for (const auto& c : cases) {
    const auto line = setRequestLine(c.code, c.payload.data(), c.length, "u", "p");
    ASSERT_TRUE(line.has_value()) << std::hex << c.code;
    EXPECT_EQ(*line, c.line) << std::hex << c.code;
    EXPECT_TRUE(isSetCode(c.code));
    EXPECT_EQ(setNeedsReboot(c.code), c.code == 0x2000 || c.code == 0x2002 || c.code == 0x2012);
  }
}

TEST(ParamRecords, SetTextWithLineBreakOrUnterminatedFieldIsSafe) {
  std::array<uint8_t, kCommandPayloadSize> payload{};
  std::memcpy(payload.data(), "evil\r\nHost: x", 13);
  EXPECT_FALSE(setRequestLine(0x2702, payload.data(), 13, "u", "p").has_value())
      << "a line break must never reach the wire";

  // A name field filled to its last byte is read within its 64 bytes.
  UserParams users{};
  std::memset(users.user1, 'n', sizeof users.user1);
  std::strcpy(users.pwd1, "pw");
  const auto line = setRequestLine(0x2002, payloadOf(users).data(), sizeof users, "u", "p");
  ASSERT_TRUE(line.has_value());
  EXPECT_NE(line->find("user1=" + std::string(64, 'n') + "&user2="), std::string::npos);
}

TEST(ParamRecords, CommandCodeFamilies) {
  for (int code : {0, 1, 7, 11, 25, 29, 90, 95}) EXPECT_TRUE(isCameraControlCode(code)) << code;
  for (int code : {-1, 8, 10, 12, 24, 30, 89, 96, 0x2000}) EXPECT_FALSE(isCameraControlCode(code)) << code;
  for (int code : {8, 0x2014, 0x2700, 0x2701}) EXPECT_FALSE(isSetCode(code)) << code;
  EXPECT_EQ(readRecordSize(0x2014), 0);
}

TEST(RecordDates, CalendarFieldsAreCheckedBeforeConversion) {
  struct Case {
    int fields[6];
    bool valid;
  };
  const Case cases[] = {
      {{2026, 12, 9, 12, 0, 0}, true}, {{1900, 1, 1, 0, 0, 0}, true},   {{1899, 12, 31, 0, 0, 0}, false},
      {{2026, 0, 1, 0, 0, 0}, false},  {{2026, 13, 1, 0, 0, 0}, false}, {{2026, 1, 0, 0, 0, 0}, false},
      {{2026, 1, 32, 0, 0, 0}, false}, {{2026, 1, 1, 24, 0, 0}, false}, {{2026, 1, 1, 0, 60, 0}, false},
      {{2026, 1, 1, 0, 0, 60}, false}, {{2026, 1, 1, -1, 0, 0}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(localCalendarSeconds(c.fields).has_value(), c.valid)
        << c.fields[0] << "-" << c.fields[1] << "-" << c.fields[2] << " " << c.fields[3] << ":" << c.fields[4] << ":"
        << c.fields[5];
  }
  const int a[6] = {2026, 12, 9, 12, 0, 0};
  const int b[6] = {2026, 12, 9, 12, 0, 1};
  EXPECT_EQ(*localCalendarSeconds(b) - *localCalendarSeconds(a), 1);
}

}  // namespace
}  // namespace lumvara::test
