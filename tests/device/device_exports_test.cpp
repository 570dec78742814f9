// The exported device calls: handle checks, fixed results, and bounded
// destruction of devices whose camera cannot be reached.

#include <gtest/gtest.h>
#include <lumvara/device.h>

#include <atomic>
#include <functional>
#include <string>

#include "device_test_support.h"
#include "fake_camera.h"
#include "net/device/live_device_list.h"
#include "net/device/tcp_net_device.h"

namespace lumvara::test {
namespace {

int ignoreFrame(const unsigned char*, int, void*) { return 0; }
int ignoreEvent(int, void*) { return 0; }
int ignoreRecord(const char*, const char*, int, void*) { return 0; }

struct HandleCall {
  const char* name;
  std::function<int(void*)> call;
};

// Every export that takes a handle, called with ordinary arguments.
const std::vector<HandleCall>& handleCalls() {
  static const std::vector<HandleCall> calls = {
      {"startStream", [](void* h) { return device_net_work_startStream(h, 10, ignoreFrame, nullptr); }},
      {"stopStream", [](void* h) { return device_net_work_stopStream(h); }},
      {"startAudio", [](void* h) { return device_net_work_startAudio(h, 2, ignoreFrame, nullptr); }},
      {"stopAudio", [](void* h) { return device_net_work_stopAudio(h); }},
      {"startTalk", [](void* h) { return device_net_work_startTalk(h); }},
      {"stopTalk", [](void* h) { return device_net_work_stopTalk(h); }},
      {"sendTalkData", [](void* h) { return device_net_work_sendTalkData(h, "abcd", 4); }},
      {"set_event_callback", [](void* h) { return device_net_work_set_event_callback(h, ignoreEvent, nullptr); }},
      {"ptz", [](void* h) { return device_net_work_ptz(h, 0); }},
      {"param_callback", [](void* h) { return device_net_work_param_callback(h, nullptr, nullptr, nullptr); }},
      {"set_network", [](void* h) { return device_net_work_set_network(h, 0x2702, "cam", 4); }},
      {"get_network", [](void* h) { return device_net_work_get_network(h, 0x2001); }},
      {"search_list",
       [](void* h) {
         return device_record_file_search_list(h, 2026, 1, 1, 0, 0, 0, 2026, 1, 2, 0, 0, 0, ignoreRecord, nullptr);
       }},
      {"record_start", [](void* h) { return device_record_file_start(h, "a.h264", ignoreFrame, nullptr); }},
      {"record_stop", [](void* h) { return device_record_file_stop(h); }},
      {"record_set_pos", [](void* h) { return device_record_file_set_pos(h, 100); }},
      {"destroyInstance", [](void* h) { return device_net_work_destroyInstance(h); }},
  };
  return calls;
}

TEST(DeviceExports, RefuseNullForeignAndDestroyedHandles) {
  int foreignObject = 0;
  void* destroyed = device_net_work_createInstance(connectInfo(closedLoopbackPort()));
  ASSERT_NE(destroyed, nullptr);
  ASSERT_EQ(device_net_work_destroyInstance(destroyed), 1);

  const std::pair<const char*, void*> handles[] = {
      {"null", nullptr}, {"foreign", &foreignObject}, {"destroyed", destroyed}};
  for (const auto& [kind, handle] : handles) {
    for (const auto& call : handleCalls()) {
      EXPECT_EQ(call.call(handle), 0) << call.name << " with a " << kind << " handle";
    }
  }
  EXPECT_EQ(foreignObject, 0);
}

TEST(DeviceExports, FixedResultsOnALiveHandle) {
  EXPECT_EQ(device_net_work_init(), 1);
  void* device = device_net_work_createInstance(connectInfo(closedLoopbackPort()));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device_net_work_init(), 1);
  EXPECT_EQ(device_net_work_set_event_callback(device, ignoreEvent, nullptr), 1);
  EXPECT_EQ(device_net_work_set_event_callback(device, nullptr, nullptr), 1);
  EXPECT_EQ(device_net_work_startTalk(device), 0);
  EXPECT_EQ(device_net_work_stopTalk(device), 0);
  EXPECT_EQ(device_net_work_stopStream(device), 1) << "stopping a stream that never ran";
  EXPECT_EQ(device_net_work_stopAudio(device), 1) << "stopping audio that never ran";
  EXPECT_EQ(device_net_work_deInit(), 1);
  EXPECT_EQ(device_net_work_destroyInstance(device), 1);
  EXPECT_EQ(device_net_work_deInit(), 1);
}

TEST(DeviceExports, BaseDeviceSlotsReturnZero) {
  CNetDevice base;
  EXPECT_EQ(base.startStream(0, nullptr, nullptr), 0);
  EXPECT_EQ(base.stopStream(), 0);
  EXPECT_EQ(base.startAudio(0, nullptr, nullptr), 0);
  EXPECT_EQ(base.stopAudio(), 0);
  EXPECT_EQ(base.startTalk(), 0);
  EXPECT_EQ(base.stopTalk(), 0);
  EXPECT_EQ(base.sendTalkData(nullptr, 0), 0);
  EXPECT_EQ(base.setEventCallback(nullptr, nullptr), 0);
  EXPECT_EQ(base.ptz(0), 0);
  EXPECT_EQ(base.recordFileSearchList(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(base.recordFileStart("", nullptr, nullptr), 0);
  EXPECT_EQ(base.recordFileStop(), 0);
  EXPECT_EQ(base.recordFileSetPos(0), 0);
  EXPECT_EQ(base.setParamCallback(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(base.setNetwork(0, nullptr, 0), 0);
  EXPECT_EQ(base.getNetwork(0), 0);
}

TEST(DeviceExports, DestroyedHandleLeavesTheLiveList) {
  void* device = device_net_work_createInstance(connectInfo(closedLoopbackPort()));
  EXPECT_EQ(isLiveDevice(device), 1);
  device_net_work_destroyInstance(device);
  EXPECT_EQ(isLiveDevice(device), 0);
  EXPECT_EQ(isLiveDevice(nullptr), 0);
}

// Destruction returns promptly even while the live stream's keep-alive and
// the command worker are each inside a connect that would take 3 s.
TEST(DeviceTeardown, DestroyIsBoundedWhileConnectsHang) {
  FakeCamera silent([](FakeConnection&) {}, /*acceptConnections=*/false);
  void* device = device_net_work_createInstance(connectInfo(silent.port()));
  ASSERT_NE(device, nullptr);
  Recorder<int> events;
  device_net_work_set_event_callback(device, recordEvent, &events);
  ASSERT_EQ(device_net_work_startStream(device, 10, ignoreFrame, nullptr), 1);
  device_net_work_get_network(device, 0x2001);
  ASSERT_TRUE(events.waitForCount(1, std::chrono::seconds(2)));  // event 0: connecting
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device_net_work_destroyInstance(device), 1);
  EXPECT_LT(elapsedMs(start), 1000);
  EXPECT_EQ(events.values(), std::vector<int>{0}) << "no event after the connect was abandoned";
}

TEST(DeviceTeardown, DestroyIsBoundedForARefusingCamera) {
  void* device = device_net_work_createInstance(connectInfo(closedLoopbackPort()));
  Recorder<int> events;
  device_net_work_set_event_callback(device, recordEvent, &events);
  device_net_work_startStream(device, 10, ignoreFrame, nullptr);
  ASSERT_TRUE(events.waitForCount(2, std::chrono::seconds(3)));
  EXPECT_EQ(events.values(), (std::vector<int>{0, 101}));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device_net_work_destroyInstance(device), 1);
  EXPECT_LT(elapsedMs(start), 1000);
}

// A name lookup that never returns must not hold destruction: the lookup is
// abandoned and its late end touches nothing of the device.
TEST(DeviceTeardown, DestroyIsBoundedWhenTheNameNeverResolves) {
  BlockingResolver lookup;
  auto* device = new CTcpNetDevice(connectInfo(80, "camera.invalid"), lookup.resolver());
  addLiveDevice(device);
  Recorder<int> events;
  device_net_work_set_event_callback(device, recordEvent, &events);
  device_net_work_startStream(device, 10, ignoreFrame, nullptr);
  device_net_work_get_network(device, 0x2001);
  EXPECT_EQ(device_net_work_startAudio(device, 2, ignoreFrame, nullptr), 0)
      << "audio cannot start before the address resolves";
  ASSERT_TRUE(lookup.waitEntered(std::chrono::seconds(2)));
  EXPECT_FALSE(device->addressResolved());

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device_net_work_destroyInstance(device), 1);
  EXPECT_LT(elapsedMs(start), 1000);
  EXPECT_EQ(events.size(), 0u) << "the stream waits for an address and raises nothing";

  lookup.release();  // the abandoned lookup ends now, with the device long gone
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(DeviceTeardown, InjectedResolverAnswersForANamedCamera) {
  FakeCamera camera([](FakeConnection& c) {
    c.readRequest();
    c.holdOpen();
  });
  std::atomic<int> lookups{0};
  HostResolver resolver = [&lookups](const std::string& name, std::string& dotted) {
    if (name != "camera.test") return false;
    ++lookups;
    dotted = "127.0.0.1";
    return true;
  };
  {
    CTcpNetDevice device(connectInfo(camera.port(), "camera.test"), resolver);
    Recorder<int> events;
    device.setEventCallback(recordEvent, &events);
    device.startStream(3, ignoreFrame, nullptr);
    ASSERT_TRUE(events.waitForCount(2, std::chrono::seconds(3)));
    EXPECT_EQ(events.values(), (std::vector<int>{0, 100}));
    device.stopStream();
  }
  EXPECT_GE(lookups, 1);
  ASSERT_TRUE(camera.waitForRequests(1, std::chrono::seconds(1)));
  EXPECT_NE(camera.requestLines()[0].find("streamid=3"), std::string::npos);
}

}  // namespace
}  // namespace lumvara::test
