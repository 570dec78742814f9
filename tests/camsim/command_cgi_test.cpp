#include <gtest/gtest.h>

#include <thread>

#include "camsim/simulator_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace lumvara::camsim;
using camsim_test::Command;
using camsim_test::RawClient;
using camsim_test::ReadAnswer;
using camsim_test::SimulatorTest;

using CommandCgi = SimulatorTest;

std::string Ask(uint16_t port, const std::string& target) {
  RawClient client;
  if (!client.connect(port) || !client.request(target)) return "<no connection>";
  const auto answer = ReadAnswer(client, 3s);
  return answer ? answer->body : "<no answer>";
}

TEST_F(CommandCgi, AnswerHasAnExactContentLengthLineAndThatManyBodyBytes) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request(Command("get_params.cgi")));
  const auto answer = ReadAnswer(client, 3s);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  ASSERT_GT(answer->declared_length, 0);
  EXPECT_EQ(answer->body.size(), static_cast<size_t>(answer->declared_length));
  // Nothing follows the body.
  EXPECT_FALSE(client.readOnce(200ms).has_value());
  for (const char* item :
       {"ip=\"127.0.0.1\";", "mask=\"255.255.255.0\";", "dhcpen=0;", "port=81;", "user1_name=\"admin\";",
        "ddns_service=0;", "ftp_port=21;", "mail_port=25;", "mailssl=0;", "alias=\""}) {
    EXPECT_NE(answer->body.find(item), std::string::npos) << item;
  }
  // Readers that search plain substrings meet the network keys first.
  EXPECT_LT(answer->body.find("port="), answer->body.find("ftp_port="));
  EXPECT_LT(answer->body.find("ip="), answer->body.find("mail_inet_ip="));
}

TEST_F(CommandCgi, ServesSeveralRequestsOnOneConnection) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  for (const char* cgi : {"get_misc.cgi", "get_params.cgi"}) {
    ASSERT_TRUE(client.request(Command(cgi)));
    const auto answer = ReadAnswer(client, 3s);
    ASSERT_TRUE(answer.has_value()) << cgi;
    EXPECT_EQ(answer->body.size(), static_cast<size_t>(answer->declared_length));
  }
}

TEST_F(CommandCgi, SetRequestsChangeTheStoredStateAndAnswerOk) {
  struct Case {
    std::string query;
    const char* key;
    const char* stored;
    const char* read_back;  // item in the matching read, empty when there is none
    const char* read_cgi;
  };
  const Case cases[] = {
      {"set_network.cgi&ipaddr=10.1.2.3&mask=255.0.0.0&gateway=10.0.0.1&dns1=1.1.1.1&dns2=8.8.8.8&dhcp=1&port=8080",
       "port", "8080", "port=8080;", "get_params.cgi"},
      {"set_users.cgi&user1=a&user2=b&user3=c&pwd1=x&pwd2=y&pwd3=z", "user3_pwd", "z", "user3_pwd=\"z\";",
       "get_params.cgi"},
      {"set_ddns.cgi&service=3&user=u&pwd=p&host=h.example&proxy_svr=ps&proxy_port=99&ddns_mode=1", "ddns_proxy_port",
       "99", "ddns_proxy_port=99;", "get_params.cgi"},
      {"set_ftp.cgi&svr=ftp.example&port=2121&user=f&pwd=g&dir=/up&mode=1&upload_interval=30", "ftp_upload_interval",
       "30", "ftp_dir=\"/up\";", "get_params.cgi"},
      {"set_mail.cgi&sender=s@x&receiver1=r1&receiver2=r2&receiver3=r3&receiver4=r4&ssl=1&svr=smtp&smtpport=465&user=m&"
       "pwd=n",
       "mail_port", "465", "mail_receiver4=\"r4\";", "get_params.cgi"},
      {"set_misc.cgi&ptz_patrol_rate=1&ptz_patrol_up_rate=2&ptz_patrol_down_rate=3&ptz_patrol_left_rate=4&ptz_patrol_"
       "right_rate=5&ptz_dispreset=1&ptz_preset=7&led_mode=2&ptz_run_times=9",
       "preset_onstart", "7", "ptruntimes=9;", "get_misc.cgi"},
      {"set_wifi.cgi&enable=1&ssid=Home&mode=0&encrypt=1&authtype=2&keyformat=0&defkey=1&key1=k&key2=&key3=&key4=&key1_"
       "bits=64&key2_bits=0&key3_bits=0&key4_bits=0&wpa_psk=pass",
       "wifi_wpa_psk", "pass", "", ""},
      {"set_alias.cgi&alias=Front Door", "alias", "Front Door", "alias=\"Front Door\";", "get_params.cgi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const size_t amp = c.query.find('&');
    const std::string cgi = c.query.substr(0, amp);
    EXPECT_EQ(Ask(port(), Command(cgi, c.query.substr(amp))), "var result=\"ok\";\r\n");
    EXPECT_EQ(sim().param(c.key), c.stored);
    if (*c.read_back != '\0') {
      EXPECT_NE(Ask(port(), Command(c.read_cgi)).find(c.read_back), std::string::npos);
    }
  }
}

TEST_F(CommandCgi, RefusedSetAndWrongCredentialsChangeNothing) {
  sim().setRefuseSets(true);
  const std::string refused = Ask(port(), Command("set_alias.cgi", "&alias=Changed"));
  EXPECT_NE(refused.find("result="), std::string::npos);
  EXPECT_EQ(refused.find("ok"), std::string::npos);
  sim().setRefuseSets(false);
  const std::string intruder = Ask(port(), "set_alias.cgi?loginuse=admin&loginpas=guess&alias=Changed");
  EXPECT_NE(intruder.find("result="), std::string::npos);
  EXPECT_EQ(intruder.find("ok"), std::string::npos);
  EXPECT_EQ(sim().param("alias"), "Lumvara Simulator");
  // Reads with wrong credentials give no settings away.
  EXPECT_EQ(Ask(port(), "get_params.cgi?loginuse=admin&loginpas=guess").find("ip="), std::string::npos);
}

TEST_F(CommandCgi, WifiScanListsTheConfiguredNetworks) {
  for (int count : {0, 3, 100}) {
    SCOPED_TRACE(count);
    sim().setWifiNetworks(count);
    const std::string body = Ask(port(), Command("get_wifi_scan_result.cgi"));
    EXPECT_NE(body.find("ap_number=" + std::to_string(count) + ";"), std::string::npos);
    for (int i = 0; i < count; ++i) {
      const std::string index = "[" + std::to_string(i) + "]";
      EXPECT_NE(body.find("ap_ssid" + index + " =\""), std::string::npos);
      for (const char* key : {"ap_mac", "ap_security", "ap_dbm0", "ap_dbm1", "ap_mode"}) {
        EXPECT_NE(body.find(std::string(key) + index + "="), std::string::npos) << key << i;
      }
    }
    EXPECT_EQ(body.find("ap_mac[" + std::to_string(count) + "]="), std::string::npos);
  }
}

TEST_F(CommandCgi, RecordListHoldsTheRecordingsBetweenTheDates) {
  sim().setRecordings({{"20261201000000_000.h264", 1000, 5}, {"20261202000000_001.h264", 2000, 5}, {"short", 3000, 5}});
  struct Case {
    long long from, to;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {0, 5000, {"20261201000000_000.h264", "20261202000000_001.h264", "short"}},
      {1500, 3000, {"20261202000000_001.h264", "short"}},
      {4000, 5000, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    const std::string body = Ask(port(), Command("get_record_file.cgi", "&startdate=" + std::to_string(c.from) +
                                                                            "&enddate=" + std::to_string(c.to)));
    EXPECT_NE(body.find("var record_num0=" + std::to_string(c.names.size()) + ";"), std::string::npos);
    for (size_t i = 0; i < c.names.size(); ++i) {
      const std::string index = "[" + std::to_string(i) + "]";
      EXPECT_NE(body.find("record_name0" + index + "=\"" + c.names[i] + "\""), std::string::npos);
      const size_t size = sim().recordingBytes(c.names[i]).size();
      ASSERT_GT(size, 0u);
      EXPECT_NE(body.find("record_size0" + index + "=" + std::to_string(size) + ";"), std::string::npos);
    }
  }
}

TEST_F(CommandCgi, RequestLogKeepsEveryRequestLineInOrder) {
  sim().clearRequestLog();
  Ask(port(), Command("decoder_control.cgi", "&command=0"));
  Ask(port(), Command("set_alias.cgi", "&alias=My Cam"));
  ASSERT_TRUE(sim().waitForRequest("set_alias.cgi", 1s));
  const auto log = sim().requestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "GET decoder_control.cgi?loginuse=admin&loginpas=secret&command=0 HTTP/1.1");
  EXPECT_EQ(log[1], "GET set_alias.cgi?loginuse=admin&loginpas=secret&alias=My Cam HTTP/1.1");
  EXPECT_FALSE(sim().waitForRequest("reboot.cgi", 50ms));
}

class Reboot : public SimulatorTest {
  void SetUp() override {
    SimulatorOptions options;
    options.reboot_downtime = 600ms;
    startWith(options);
  }
};

TEST_F(Reboot, AnswersThenDropsConnectionsAndRefusesUntilTheDowntimeEnds) {
  RawClient live;
  ASSERT_TRUE(live.connect(port()));
  ASSERT_TRUE(live.request(camsim_test::LiveTarget()));
  ASSERT_TRUE(live.readFrame().has_value());

  EXPECT_EQ(Ask(port(), Command("reboot.cgi")), "var result=\"ok\";\r\n");
  EXPECT_TRUE(live.closedWithin(2s));
  const auto down_since = std::chrono::steady_clock::now();
  RawClient probe;
  // Unreachable for a while...
  bool refused = false;
  while (std::chrono::steady_clock::now() - down_since < 300ms) {
    if (!probe.connect(port())) {
      refused = true;
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(refused);
  // ...then back on the same port.
  bool back = false;
  while (std::chrono::steady_clock::now() - down_since < 3s && !back) {
    back = probe.connect(port());
    if (!back) std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(back);
  EXPECT_EQ(sim().reboots(), 1);
  ASSERT_TRUE(probe.request(Command("get_misc.cgi")));
  EXPECT_TRUE(ReadAnswer(probe, 3s).has_value());
}

}  // namespace
