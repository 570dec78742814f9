// The command channel against a scripted camera: one request per command on
// its own connection, records reported through the parameter callbacks, set
// results and the reboot that follows accepted settings.

#include <gtest/gtest.h>
#include <lumvara/device.h>

#include <cstring>
#include <map>
#include <string>

#include "device_test_support.h"
#include "fake_camera.h"
#include "net/device/tcp_net_device.h"

namespace lumvara::test {
namespace {

using namespace std::chrono_literals;

struct Report {
  int code;
  std::vector<uint8_t> record;
};

struct Results {
  std::mutex lock;
  std::vector<std::pair<int, int>> values;
};
Results g_results;  // result callbacks carry no context

int recordParam(int code, const void* record, int size, void* context) {
  const auto* bytes = static_cast<const uint8_t*>(record);
  static_cast<Recorder<Report>*>(context)->add({code, {bytes, bytes + size}});
  return 0;
}

int recordResult(int code, int result) {
  std::lock_guard<std::mutex> guard(g_results.lock);
  g_results.values.emplace_back(code, result);
  return 0;
}

std::vector<std::pair<int, int>> takeResults() {
  std::lock_guard<std::mutex> guard(g_results.lock);
  return std::exchange(g_results.values, {});
}

using Bodies = std::map<std::string, std::string>;

// Answers each request with the body registered for its CGI name.
class AnsweringCamera {
 public:
  explicit AnsweringCamera(std::map<std::string, std::string> bodies)
      : bodies_(std::move(bodies)), camera_([this](FakeConnection& c) {
          const std::string request = c.readRequest(3000);
          if (request.empty()) return;
          for (const auto& [cgi, body] : bodies_) {
            if (request.find(" " + cgi + "?") != std::string::npos) {
              c.sendAnswer(body);
              break;
            }
          }
          c.waitPeerClose(2000);
        }) {}
  FakeCamera& camera() { return camera_; }

 private:
  std::map<std::string, std::string> bodies_;
  FakeCamera camera_;
};

const std::string kNetworkBody =
    "var ip=\"192.0.2.7\";\r\nvar mask=\"255.255.255.0\";\r\nvar gateway=\"192.0.2.1\";\r\n"
    "var dns1=\"192.0.2.53\";\r\nvar dns2=\"192.0.2.54\";\r\nvar dhcpen=0;\r\nvar port=81;\r\n";

TEST(Commands, EachFamilySendsItsExactRequestLine) {
  AnsweringCamera answering(Bodies{{"get_params.cgi", kNetworkBody}, {"set_alias.cgi", "result=\"ok\";"}});
  CTcpNetDevice device(connectInfo(answering.camera().port()));
  char alias[64] = "Garden";
  device.ptz(0);
  device.ptz(93);
  device.getNetwork(0x2001);
  device.setNetwork(0x2702, alias, sizeof alias);
  device.getNetwork(0x2011);
  device.getNetwork(0x2013);
  ASSERT_TRUE(answering.camera().waitForRequests(6, 8s));
  const std::vector<std::string> expected = {
      "GET decoder_control.cgi?loginuse=admin&loginpas=secret&command=0 HTTP/1.1",
      "GET decoder_control.cgi?loginuse=admin&loginpas=secret&command=93 HTTP/1.1",
      "GET get_params.cgi?loginuse=admin&loginpas=secret HTTP/1.1",
      "GET set_alias.cgi?loginuse=admin&loginpas=secret&alias=Garden HTTP/1.1",
      "GET get_misc.cgi?loginuse=admin&loginpas=secret HTTP/1.1",
      "GET get_wifi_scan_result.cgi?loginuse=admin&loginpas=secret HTTP/1.1",
  };
  EXPECT_EQ(answering.camera().requestLines(), expected);
  EXPECT_EQ(answering.camera().connectionsAccepted(), 6) << "each command on a new connection";
}

TEST(Commands, UnknownCodesConnectButSendNothing) {
  AnsweringCamera answering(Bodies{});
  CTcpNetDevice device(connectInfo(answering.camera().port()));
  EXPECT_EQ(device.getNetwork(8), 1);
  EXPECT_EQ(device.ptz(0x2014), 1);
  device.ptz(1);
  ASSERT_TRUE(answering.camera().waitForRequests(1, 5s));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(answering.camera().requestLines(),
            std::vector<std::string>{"GET decoder_control.cgi?loginuse=admin&loginpas=secret&command=1 HTTP/1.1"});
  EXPECT_EQ(answering.camera().connectionsAccepted(), 3);
}

TEST(Commands, ReadReportsRecordOrNothingWhenAKeyIsMissing) {
  std::string withoutDns2 = kNetworkBody;
  withoutDns2.erase(withoutDns2.find("var dns2"));
  AnsweringCamera answering(
      Bodies{{"get_params.cgi", withoutDns2},
             {"get_misc.cgi",
              "led_mode=2;ptz_center_onstart=1;ptruntimes=3;ptz_patrol_rate=4;ptz_patrol_up_rate=5;"
              "ptz_patrol_down_rate=6;ptz_patrol_left_rate=7;ptz_patrol_right_rate=8;"
              "ptz_disppreset=9;preset_onstart=10;"}});
  CTcpNetDevice device(connectInfo(answering.camera().port()));
  Recorder<Report> reports;
  device.setParamCallback(recordParam, nullptr, &reports);
  device.getNetwork(0x2001);
  device.getNetwork(0x2011);
  ASSERT_TRUE(reports.waitForCount(1, 5s));
  std::this_thread::sleep_for(100ms);
  const auto got = reports.values();
  ASSERT_EQ(got.size(), 1u) << "the network answer without dns2 reports nothing";
  EXPECT_EQ(got[0].code, 0x2008);
  ASSERT_EQ(got[0].record.size(), 44u);
  MiscParams misc;
  std::memcpy(&misc, got[0].record.data(), sizeof misc);
  EXPECT_EQ(misc.led_mode, 2);
  EXPECT_EQ(misc.preset_onstart, 10);
}

TEST(Commands, WifiScanReportsThreeEntries) {
  AnsweringCamera answering(
      Bodies{{"get_wifi_scan_result.cgi",
              "var ap_number=3;\r\nvar ap_ssid[0] =\"alpha\";\r\nvar ap_mac[0]=\"00:11\";\r\n"
              "var ap_security[0]=1;\r\nvar ap_ssid[1] =\"beta\";\r\nvar ap_ssid[2] =\"gamma\";\r\n"
              "var ap_mode[2]=1;\r\n"}});
  CTcpNetDevice device(connectInfo(answering.camera().port()));
  Recorder<Report> reports;
  device.setParamCallback(recordParam, nullptr, &reports);
  device.getNetwork(0x2013);
  ASSERT_TRUE(reports.waitForCount(1, 5s));
  const auto report = reports.values()[0];
  EXPECT_EQ(report.code, 0x2013);
  ASSERT_EQ(report.record.size(), 20000u);
  WifiScanResult scan;
  std::memcpy(&scan, report.record.data(), sizeof scan);
  EXPECT_STREQ(scan.ap[0].ssid, "alpha");
  EXPECT_STREQ(scan.ap[0].mac, "00:11");
  EXPECT_EQ(scan.ap[0].security, 1);
  EXPECT_STREQ(scan.ap[1].ssid, "beta");
  EXPECT_STREQ(scan.ap[2].ssid, "gamma");
  EXPECT_EQ(scan.ap[2].mode, 1);
  const WifiApEntry zero{};
  EXPECT_EQ(std::memcmp(&scan.ap[3], &zero, sizeof zero), 0);
}

TEST(Commands, AcceptedNetworkSettingIsFollowedByReboot) {
  AnsweringCamera answering(Bodies{{"set_network.cgi", "result=\"ok\";"}, {"reboot.cgi", "result=\"ok\";"}});
  CTcpNetDevice device(connectInfo(answering.camera().port()));
  takeResults();
  device.setParamCallback(nullptr, recordResult, nullptr);
  NetworkParams network{};
  std::strcpy(network.ip, "192.0.2.9");
  device.setNetwork(0x2000, reinterpret_cast<const char*>(&network), sizeof network);
  ASSERT_TRUE(answering.camera().waitForRequests(2, 5s));
  EXPECT_EQ(answering.camera().requestLines()[1], "GET reboot.cgi?loginuse=admin&loginpas=secret HTTP/1.1");
  EXPECT_EQ(takeResults(), (std::vector<std::pair<int, int>>{{0x2000, 0}}));
}

TEST(Commands, RefusedSettingReportsFailureAndNoReboot) {
  AnsweringCamera answering(Bodies{{"set_users.cgi", "result=\"Auth Failed\";"}, {"set_ftp.cgi", "no result here"}});
  CTcpNetDevice device(connectInfo(answering.camera().port()));
  takeResults();
  device.setParamCallback(nullptr, recordResult, nullptr);
  UserParams users{};
  FtpParams ftp{};
  device.setNetwork(0x2002, reinterpret_cast<const char*>(&users), sizeof users);
  device.setNetwork(0x2006, reinterpret_cast<const char*>(&ftp), sizeof ftp);
  ASSERT_TRUE(answering.camera().waitForRequests(2, 5s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(answering.camera().requestLines().size(), 2u) << "no reboot after a refusal";
  EXPECT_EQ(takeResults(), (std::vector<std::pair<int, int>>{{0x2002, -1}, {0x2006, -1}}));
}

TEST(Commands, OversizedPayloadIsRefusedAtTheCall) {
  CTcpNetDevice device(connectInfo(closedLoopbackPort()));
  std::vector<char> payload(1025, 'x');
  EXPECT_EQ(device.setNetwork(0x2702, payload.data(), 1025), 0);
  EXPECT_EQ(device.setNetwork(0x2702, payload.data(), -1), 0);
  EXPECT_EQ(device.setNetwork(0x2702, nullptr, 4), 0);
  EXPECT_EQ(device.setNetwork(0x2702, payload.data(), 1024), 1);
}

}  // namespace
}  // namespace lumvara::test
