// Camera search through the hosting API. The control's search request goes
// to the test's own UDP socket on loopback (control_fixture.h), and the test
// answers it like cameras would, to the address the request came from.
#include <lumvara/search.h>

#include <cstring>

#include "control/control_fixture.h"
#include "control/lumvara_ctrl.h"
#include "platform/winsys/message_loop.h"

namespace control_test {
namespace {

using namespace std::chrono_literals;

constexpr char kRequest[] = {'D', 'H', 0x01, 0x01};

struct Camera {
  const char* ip;
  uint16_t port;
  const char* name;
};

class ControlSearch : public ControlTest {
 protected:
  // Calls OnSearchCameras and waits for its request; the requester's address.
  sockaddr_in Search(bool pump = true) {
    Call("OnSearchCameras");
    sockaddr_in from{};
    const std::string request = ReceiveSearchRequest(&from, 5s, pump);
    EXPECT_EQ(request, std::string(kRequest, sizeof kRequest));
    return from;
  }

  // One camera's answer: "DH", 0x0801, then the 320-byte record.
  void Answer(const sockaddr_in& to, const Camera& camera) {
    uint8_t datagram[4 + sizeof(SearchResultRecord)] = {'D', 'H', 0x01, 0x08};
    SearchResultRecord record;
    std::memset(&record, 0, sizeof record);
    std::strncpy(record.ip, camera.ip, sizeof record.ip - 1);
    record.port = camera.port;
    std::strncpy(record.name, camera.name, sizeof record.name - 1);
    // Bytes the control passes on without reading.
    std::memset(record.reserved, 0x5A, sizeof record.reserved);
    std::memcpy(datagram + 4, &record, sizeof record);
    ASSERT_EQ(::sendto(searchSink_, datagram, sizeof datagram, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(sizeof datagram));
  }

  // The OnCameraSearched events heard so far.
  std::vector<Heard> Found() const {
    std::vector<Heard> found;
    for (const Heard& h : Events()) {
      if (h.dispid == lumvara::control::event_dispid::kOnCameraSearched) found.push_back(h);
    }
    return found;
  }

  bool WaitForFound(size_t count) {
    return PumpUntil([&] { return Found().size() >= count; }, 5s);
  }

  // What OnCameraSearched reports for `camera`: status 0, the name and the
  // address, the port three times, and 1 for the same subnet.
  static Heard Expected(const Camera& camera) {
    return Heard{LUMVARA_SINK_EVENT,
                 lumvara::control::event_dispid::kOnCameraSearched,
                 {0, camera.port, camera.port, camera.port, 1},
                 {camera.name, camera.ip}};
  }
};

const Camera kFirst{"127.0.0.1", 81, "Hall camera"};
const Camera kSecond{"127.0.0.2", 8080, "\xE9\x97\xA8\xE5\x8F\xA3"};  // a UTF-8 name

TEST_F(ControlSearch, AnAddressAnsweringTwiceIsReportedOnce) {
  Forget();
  const sockaddr_in requester = Search();
  Answer(requester, kFirst);
  Answer(requester, kFirst);
  Answer(requester, kSecond);
  // The answers are handled in arrival order: once the second camera is
  // reported, the repeated answer has been dropped.
  ASSERT_TRUE(WaitForFound(2));
  Pump(0);
  EXPECT_EQ(Found(), (std::vector<Heard>{Expected(kFirst), Expected(kSecond)}));
}

TEST_F(ControlSearch, ANewSearchReportsKnownCamerasAgain) {
  const sockaddr_in requester = Search();
  Answer(requester, kFirst);
  ASSERT_TRUE(WaitForFound(1));
  Forget();
  const sockaddr_in again = Search();
  Answer(again, kFirst);
  Answer(again, kFirst);
  Answer(again, kSecond);
  ASSERT_TRUE(WaitForFound(2));
  Pump(0);
  EXPECT_EQ(Found(), (std::vector<Heard>{Expected(kFirst), Expected(kSecond)}));
}

// The control's window thread is held while the search thread posts its
// result; a new search then empties the result list before that message is
// handled. The posted record must still be readable when it finally is.
TEST_F(ControlSearch, ARecordQueuedAcrossANewSearchIsStillReported) {
  namespace winsys = lumvara::winsys;
  Forget();
  const sockaddr_in requester = Search();
  Answer(requester, kFirst);
  // Take the control's messages off the queue without handling the search
  // result: every other message is dispatched as usual.
  const auto control = static_cast<winsys::HWND>(lumvara_control_window(control_));
  winsys::MSG held{};
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (held.message == 0 && std::chrono::steady_clock::now() < deadline) {
    winsys::MSG msg;
    bool quit = false;
    if (!winsys::WaitMessage(&msg, 10, &quit)) continue;
    if (msg.hwnd == control && msg.message == lumvara::control::kMsgSearchResult) {
      held = msg;
    } else {
      winsys::DispatchMessage(msg);
    }
  }
  ASSERT_EQ(held.message, lumvara::control::kMsgSearchResult);
  EXPECT_TRUE(Found().empty());

  // The new search empties the list; the same camera answers it again,
  // under another name.
  const Camera renamed{kFirst.ip, kFirst.port, "Hall camera, renamed"};
  const sockaddr_in again = Search(/*pump=*/false);
  Answer(again, renamed);
  winsys::DispatchMessage(held);
  ASSERT_EQ(Found().size(), 1u);
  EXPECT_EQ(Found()[0], Expected(kFirst));
  // The answer to the new search is a result of its own.
  ASSERT_TRUE(WaitForFound(2));
  EXPECT_EQ(Found()[1], Expected(renamed));
}

}  // namespace
}  // namespace control_test
