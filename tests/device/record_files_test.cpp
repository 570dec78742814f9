// Record search and SD playback against a scripted camera, and the camera
// audio stream.

#include <gtest/gtest.h>
#include <lumvara/device.h>

#include <atomic>
#include <string>

#include "device_test_support.h"
#include "fake_camera.h"
#include "net/device/tcp_net_device.h"
#include "net/transport/stream_frame.h"

namespace lumvara::test {
namespace {

using namespace std::chrono_literals;

struct RecordFile {
  std::string name;
  std::string prefix;
  int size;
};

int recordFile(const char* name, const char* prefix, int size, void* context) {
  static_cast<Recorder<RecordFile>*>(context)->add({name, prefix, size});
  return 0;
}

int countFrame(const unsigned char* frame, int length, void* context) {
  static_cast<Recorder<std::pair<int, int>>*>(context)->add({frame[4], length});
  return 0;
}

FakeCamera::Handler answerWith(std::string body, int delayMs = 0) {
  return [body, delayMs](FakeConnection& c) {
    if (c.readRequest().empty()) return;
    if (delayMs > 0) c.pause(delayMs);
    c.sendAnswer(body);
    c.waitPeerClose(2000);
  };
}

TEST(RecordSearch, ReportsEachFileInIndexOrder) {
  struct Case {
    const char* name;
    std::string body;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"none", "var record_num0=0;\r\nrecord_name0[0]=\"x.h264\";\r\n", {}},
      {"two",
       "var record_num0=2;\r\nrecord_name0[0]=\"20261209120000_010.h264\";\r\nrecord_size0[0]=1234;\r\n"
       "record_name0[1]=\"20261209130000_010.h264\";\r\nrecord_size0[1]=99;\r\n",
       {"20261209120000_010.h264", "20261209130000_010.h264"}},
      {"short name", "var record_num0=1;\r\nrecord_name0[0]=\"a.avi\";\r\nrecord_size0[0]=5;\r\n", {"a.avi"}},
      {"missing keys", "var record_num0=1;\r\n", {""}},
  };
  for (const auto& c : cases) {
    FakeCamera camera(answerWith(c.body));
    Recorder<RecordFile> files;
    {
      CTcpNetDevice device(connectInfo(camera.port()));
      EXPECT_EQ(device.recordFileSearchList(2026, 12, 9, 0, 0, 0, 2026, 12, 9, 23, 59, 59, recordFile, &files), 1);
      ASSERT_TRUE(camera.waitForRequests(1, 3s)) << c.name;
      // Destroying the device would end a search still reading.
      if (c.names.empty()) std::this_thread::sleep_for(100ms);
      files.waitForCount(c.names.size(), 3s);
    }
    const auto got = files.values();
    ASSERT_EQ(got.size(), c.names.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].name, c.names[i]) << c.name;
      EXPECT_EQ(got[i].prefix, c.names[i].substr(0, 8)) << c.name;
    }
    const std::string line = camera.requestLines()[0];
    EXPECT_EQ(line.rfind("GET get_record_file.cgi?loginuse=admin&loginpas=secret&startdate=", 0), 0u) << line;
    if (c.names.size() == 2) {
      EXPECT_EQ(got[0].size, 1234);
      EXPECT_EQ(got[1].size, 99);
    }
  }
}

TEST(RecordSearch, InvalidDateEndsTheSearchBeforeAnyRequest) {
  FakeCamera camera(answerWith("var record_num0=1;"));
  Recorder<RecordFile> files;
  {
    CTcpNetDevice device(connectInfo(camera.port()));
    device.recordFileSearchList(2026, 13, 1, 0, 0, 0, 2026, 12, 9, 0, 0, 0, recordFile, &files);
    std::this_thread::sleep_for(200ms);
  }
  EXPECT_EQ(camera.connectionsAccepted(), 0);
  EXPECT_EQ(files.size(), 0u);
}

TEST(RecordSearch, SecondSearchWaitsForTheFirst) {
  std::atomic<int> answered{0};
  FakeCamera camera([&](FakeConnection& c) {
    if (c.readRequest().empty()) return;
    c.pause(400);
    const int index = answered.fetch_add(1);
    c.sendAnswer("var record_num0=1;record_name0[0]=\"n" + std::to_string(index) + "\";record_size0[0]=1;");
    c.waitPeerClose(2000);
  });
  CTcpNetDevice device(connectInfo(camera.port()));
  Recorder<RecordFile> files;
  device.recordFileSearchList(2026, 1, 1, 0, 0, 0, 2026, 1, 2, 0, 0, 0, recordFile, &files);
  ASSERT_TRUE(camera.waitForRequests(1, 3s));
  device.recordFileSearchList(2026, 1, 1, 0, 0, 0, 2026, 1, 2, 0, 0, 0, recordFile, &files);
  EXPECT_EQ(answered.load(), 1) << "the second call returned only after the first answer";
  ASSERT_TRUE(files.waitForCount(2, 3s));
  EXPECT_EQ(files.values()[0].name, "n0");
  EXPECT_EQ(files.values()[1].name, "n1");
}

TEST(SdPlayback, PlaysFromStartThenFromAnOffsetAndStops) {
  std::atomic<bool> streaming{true};
  FakeCamera camera([&](FakeConnection& c) {
    if (c.readRequest().empty()) return;
    for (int i = 0; i < 3; ++i) c.sendFrame(i == 0 ? FrameKind::H264Key : FrameKind::H264, 100);
    while (streaming.load() && c.sendFrame(FrameKind::H264, 10)) c.pause(5);
  });
  CTcpNetDevice device(connectInfo(camera.port()));
  Recorder<std::pair<int, int>> frames;
  EXPECT_EQ(device.recordFileStart("20261209120000_010.h264", countFrame, &frames), 1);
  ASSERT_TRUE(frames.waitForCount(3, 3s));
  EXPECT_EQ(frames.values()[0], (std::pair<int, int>{0, 132}));
  EXPECT_EQ(device.recordFileSetPos(65536), 1);
  ASSERT_TRUE(camera.waitForRequests(2, 3s));
  EXPECT_EQ(camera.requestLines()[0],
            "GET /livestream.cgi?user=admin&pwd=secret&streamid=4&filename=20261209120000_010.h264"
            "&offset=0 HTTP/1.1");
  EXPECT_EQ(camera.requestLines()[1],
            "GET /livestream.cgi?user=admin&pwd=secret&streamid=4&filename=20261209120000_010.h264"
            "&offset=65536 HTTP/1.1");
  const size_t before = frames.size();
  ASSERT_TRUE(frames.waitForCount(before + 3, 3s)) << "frames flow again after set-pos";

  EXPECT_EQ(device.recordFileStop(), 1);
  const size_t stopped = frames.size();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(frames.size(), stopped) << "nothing after stop";
  streaming.store(false);
}

TEST(SdPlayback, RefusesNamesItCannotSendAndUnreachableCameras) {
  FakeCamera camera([](FakeConnection& c) {
    c.readRequest();
    c.holdOpen();
  });
  CTcpNetDevice device(connectInfo(camera.port()));
  EXPECT_EQ(device.recordFileStart(std::string(128, 'n').c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(device.recordFileStart("bad\r\nname", nullptr, nullptr), 0);
  EXPECT_EQ(device.recordFileStart(nullptr, nullptr, nullptr), 0);
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(camera.requestLines().empty());

  CTcpNetDevice unreachable(connectInfo(closedLoopbackPort()));
  EXPECT_EQ(unreachable.recordFileStart("a.h264", nullptr, nullptr), 0);
  EXPECT_EQ(unreachable.recordFileSetPos(10), 0);
  EXPECT_EQ(unreachable.recordFileStop(), 1);
}

TEST(CameraAudio, DeliversFramesUntilStopped) {
  std::atomic<bool> streaming{true};
  FakeCamera camera([&](FakeConnection& c) {
    if (c.readRequest().empty()) return;
    c.sendFrame(FrameKind::Adpcm, 512);  // straight back: must not be lost
    while (streaming.load() && c.sendFrame(FrameKind::Alaw, 960)) c.pause(5);
  });
  CTcpNetDevice device(connectInfo(camera.port()));
  Recorder<std::pair<int, int>> frames;
  EXPECT_EQ(device.startAudio(2, countFrame, &frames), 1);
  ASSERT_TRUE(frames.waitForCount(3, 3s));
  EXPECT_EQ(frames.values()[0], (std::pair<int, int>{FrameKind::Adpcm, 544}));
  EXPECT_EQ(frames.values()[1], (std::pair<int, int>{FrameKind::Alaw, 992}));
  EXPECT_EQ(camera.requestLines()[0], "GET /audiostream.cgi?user=admin&pwd=secret&streamid=2&filename= HTTP/1.1");

  EXPECT_EQ(device.startAudio(2, countFrame, &frames), 1);
  ASSERT_TRUE(camera.waitForRequests(2, 3s));
  EXPECT_TRUE(waitUntil([&] { return camera.openConnections() == 1; }, 3s))
      << "the first audio connection was closed; open: " << camera.openConnections();

  EXPECT_EQ(device.stopAudio(), 1);
  const size_t stopped = frames.size();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(frames.size(), stopped);
  EXPECT_EQ(device.stopAudio(), 1);
  streaming.store(false);
}

}  // namespace
}  // namespace lumvara::test
