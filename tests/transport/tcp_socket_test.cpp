#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "loopback_peer.h"
#include "net/transport/cmd_connection.h"
#include "net/transport/stream_frame.h"
#include "net/transport/tcp_socket.h"
#include "platform/sockets/wake_signal.h"

namespace lumvara {
namespace {

using Clock = std::chrono::steady_clock;
using test::LoopbackListener;
using test::LoopbackPeer;

long msSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string frameBytes(uint8_t kind, uint32_t length, uint32_t magic = kFrameMagic) {
  std::string frame(kFrameHeaderSize + length, '\x5A');
  auto* bytes = reinterpret_cast<uint8_t*>(frame.data());
  writeFrameHeader(bytes, kind, 0, 0, length);
  writeLe32(bytes, magic);
  return frame;
}

// Frames seen by a handler, with the thread that delivered them.
struct FrameLog {
  std::mutex lock;
  std::vector<std::pair<int, int>> frames;  // kind, total length
  std::atomic<int> count{0};

  static void handle(const uint8_t* frame, int totalLength, void* context) {
    auto* self = static_cast<FrameLog*>(context);
    std::lock_guard guard(self->lock);
    self->frames.emplace_back(frameKind(frame), totalLength);
    ++self->count;
  }
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto start = Clock::now();
  while (!condition()) {
    if (msSince(start) > timeoutMs) {
      return false;
    }
    test::pause(5);
  }
  return true;
}

// A loopback port whose accept queue is full: further SYNs go unanswered,
// which is how an unreachable camera looks to connect.
struct SilentPeer {
  LoopbackListener listener{0};
  std::vector<int> fillers;

  SilentPeer() {
    for (int i = 0; i < 4; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(listener.port()));
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers.push_back(fd);
    }
    test::pause(50);
  }
  ~SilentPeer() {
    for (const int fd : fillers) {
      ::close(fd);
    }
  }
};

TEST(TcpConnect, RefusedPortFailsAtOnce) {
  CTcpSocket socket;
  const auto start = Clock::now();
  EXPECT_EQ(socket.connect("127.0.0.1", test::closedLoopbackPort()), 0);
  EXPECT_LT(msSince(start), 500);
  EXPECT_FALSE(socket.isOpen());
  EXPECT_FALSE(socket.isReceiving());
}

TEST(TcpConnect, NonAnsweringPeerFailsWithinItsBound) {
  SilentPeer peer;
  CmdConnection connection;
  const auto start = Clock::now();
  EXPECT_EQ(connection.connect("127.0.0.1", peer.listener.port()), 0);
  const long elapsed = msSince(start);
  EXPECT_GE(elapsed, 2800);
  EXPECT_LT(elapsed, 4000);
  EXPECT_FALSE(connection.isOpen());
}

TEST(TcpConnect, WakeSignalEndsTheConnectWaitAtOnce) {
  SilentPeer peer;
  WakeSignal stop;
  CTcpSocket socket;
  std::thread stopper([&] {
    test::pause(100);
    stop.set();
  });
  const auto start = Clock::now();
  EXPECT_EQ(socket.connect("127.0.0.1", peer.listener.port(), stop.fd()), 0);
  EXPECT_LT(msSince(start), 1000);
  stopper.join();
  EXPECT_FALSE(socket.isOpen());
}

TEST(TcpConnect, UnresolvableNameFailsWithoutAskingTheSystem) {
  int lookups = 0;
  CTcpSocket socket;
  socket.setResolver([&](const std::string& name, std::string&) {
    ++lookups;
    EXPECT_EQ(name, "camera.invalid");
    return false;
  });
  const auto start = Clock::now();
  EXPECT_EQ(socket.connect("camera.invalid", 80), 0);
  EXPECT_LT(msSince(start), 100);
  EXPECT_EQ(lookups, 1);
  EXPECT_FALSE(socket.isOpen());
}

TEST(TcpConnect, ResolvedNameAndDottedTextBothConnect) {
  LoopbackPeer peer([](int fd) { test::readUntilQuiet(fd, 300); }, 2);
  CmdConnection byName;
  byName.setResolver([](const std::string&, std::string& dotted) {
    dotted = "127.0.0.1";
    return true;
  });
  EXPECT_EQ(byName.connect("camera.test", peer.port()), 1);
  EXPECT_EQ(byName.address(), "127.0.0.1");
  byName.close();
  CmdConnection byAddress;
  byAddress.setResolver([](const std::string&, std::string&) {
    ADD_FAILURE() << "dotted text must not be looked up";
    return false;
  });
  EXPECT_EQ(byAddress.connect("127.0.0.1", peer.port()), 1);
}

TEST(TcpSocket, DeliversFramesFromThePeerOnTheReceiveThread) {
  LoopbackPeer peer([](int fd) {
    test::sendText(fd, frameBytes(FrameKind::H264Key, 3000) + frameBytes(FrameKind::LoginRefused, 0));
    test::readUntilQuiet(fd, 1000);
  });
  FrameLog log;
  CTcpSocket socket;
  socket.setFrameHandler(FrameLog::handle, &log);
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  ASSERT_TRUE(waitUntil([&] { return log.count >= 2; }, 2000));
  std::lock_guard guard(log.lock);
  EXPECT_EQ(log.frames[0], std::make_pair(0, 3032));
  EXPECT_EQ(log.frames[1], std::make_pair(200, 32));
  socket.close();
}

TEST(TcpSocket, PeerCloseEndsTheReceiveThreadButLeavesTheSocketOpen) {
  LoopbackPeer peer([](int fd) { test::sendText(fd, frameBytes(FrameKind::H264, 10)); });
  FrameLog log;
  CTcpSocket socket;
  socket.setFrameHandler(FrameLog::handle, &log);
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  EXPECT_TRUE(waitUntil([&] { return !socket.isReceiving(); }, 500));
  EXPECT_EQ(log.count.load(), 1);
  EXPECT_TRUE(socket.isOpen());
  EXPECT_EQ(socket.close(), 1);
  EXPECT_FALSE(socket.isOpen());
  EXPECT_EQ(socket.close(), 1);  // closing a closed object changes nothing
}

TEST(TcpSocket, CorruptStreamClosesTheObjectAndALaterConnectWorks) {
  int connection = 0;
  LoopbackPeer peer(
      [&connection](int fd) {
        if (connection++ == 0) {
          test::sendText(fd, frameBytes(FrameKind::H264, 4) + frameBytes(FrameKind::H264, 4, 0xDEADBEEF));
        } else {
          test::sendText(fd, frameBytes(FrameKind::Jpeg, 4));
        }
        test::readUntilQuiet(fd, 1000);
      },
      2);
  FrameLog log;
  CTcpSocket socket;
  socket.setFrameHandler(FrameLog::handle, &log);
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  EXPECT_TRUE(waitUntil([&] { return !socket.isOpen() && !socket.isReceiving(); }, 1000));
  EXPECT_EQ(log.count.load(), 1);
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  EXPECT_TRUE(waitUntil([&] { return log.count >= 2; }, 1000));
  socket.close();
}

TEST(TcpSocket, ReconnectClosesTheOldConnectionFirst) {
  std::atomic<bool> firstSawClose{false};
  int connection = 0;
  LoopbackPeer peer(
      [&](int fd) {
        if (connection++ == 0) {
          // recv returns 0 once the client has closed this connection.
          test::readUntilQuiet(fd, 3000);
          firstSawClose = true;
        } else {
          test::readUntilQuiet(fd, 200);
        }
      },
      2);
  CTcpSocket socket;
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  const auto start = Clock::now();
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  EXPECT_TRUE(waitUntil([&] { return firstSawClose.load(); }, 2000));
  EXPECT_LT(msSince(start), 2000);
  EXPECT_TRUE(socket.isReceiving());
  socket.close();
}

TEST(TcpSocket, CloseStopsAnIdleReceiveThreadPromptly) {
  LoopbackPeer peer([](int fd) { test::readUntilQuiet(fd, 2000); });
  CTcpSocket socket;
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  const auto start = Clock::now();
  socket.close();
  EXPECT_LT(msSince(start), 100);
  EXPECT_FALSE(socket.isReceiving());
}

struct ClosingHandler {
  CTcpSocket* socket = nullptr;
  std::atomic<int> frames{0};
  static void handle(const uint8_t*, int, void* context) {
    auto* self = static_cast<ClosingHandler*>(context);
    ++self->frames;
    self->socket->close();
  }
};

TEST(TcpSocket, FrameHandlerMayCloseItsOwnConnection) {
  LoopbackPeer peer([](int fd) {
    test::sendText(fd, frameBytes(FrameKind::H264, 1) + frameBytes(FrameKind::H264, 1));
    test::readUntilQuiet(fd, 1000);
  });
  CTcpSocket socket;
  ClosingHandler handler;
  handler.socket = &socket;
  socket.setFrameHandler(ClosingHandler::handle, &handler);
  ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
  EXPECT_TRUE(waitUntil([&] { return !socket.isReceiving(); }, 1000));
  EXPECT_FALSE(socket.isOpen());
  EXPECT_GE(handler.frames.load(), 1);
  socket.close();
}

TEST(TcpSocket, SendsFromSeveralThreadsNeverInterleave) {
  std::string received;
  const std::string a(3000, 'a');
  const std::string b(3000, 'b');
  {
    LoopbackPeer peer([&](int fd) { received = test::readUntilQuiet(fd, 2000); });
    CTcpSocket socket;
    ASSERT_EQ(socket.connect("127.0.0.1", peer.port()), 1);
    std::thread first([&] {
      for (int i = 0; i < 20; ++i) socket.send(a.data(), a.size());
    });
    std::thread second([&] {
      for (int i = 0; i < 20; ++i) socket.send(b.data(), b.size());
    });
    first.join();
    second.join();
    socket.close();
  }
  ASSERT_EQ(received.size(), 120000u);
  for (size_t at = 0; at < received.size(); at += 3000) {
    EXPECT_EQ(received.substr(at, 3000), std::string(3000, received[at])) << "block at " << at;
  }
}

TEST(TcpSocket, SendOnAClosedSocketFails) {
  CTcpSocket socket;
  EXPECT_FALSE(socket.send("x", 1));
}

}  // namespace
}  // namespace lumvara
