#pragma once
// CTcpSocket: a stream connection to the camera. After its request has been
// sent the camera answers with frames for as long as the connection lasts; a
// receive thread of the object's own reassembles them and hands each whole
// frame to the frame handler.
//
// Threading contract:
// - connect() and close() may be called from any thread, but the owner
//   serialises them (one connect or close at a time); close() may also run
//   on the receive thread itself, from inside the frame handler.
// - send() may be called from any thread; sends are serialised by the send
//   lock so that a request and a talk frame never interleave.
// - The frame handler runs on the receive thread.
// - A peer close ends the receive thread; the socket stays open (isOpen())
//   until the owner closes it. A corrupt stream closes the object from the
//   receive thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/transport/frame_reassembler.h"
#include "net/transport/host_resolver.h"
#include "platform/sockets/wake_signal.h"

namespace lumvara {

// Called on the receive thread for each whole frame: frame (header first),
// total length (32 + length), the context given with the handler. The frame
// is valid only during the call; a handler that keeps it copies it.
using FrameHandler = void (*)(const uint8_t* frame, int totalLength, void* context);

class CTcpSocket {
 public:
  CTcpSocket();
  virtual ~CTcpSocket();
  CTcpSocket(const CTcpSocket&) = delete;
  CTcpSocket& operator=(const CTcpSocket&) = delete;

  // Set by the owner before the first connect; not while a receive thread runs.
  void setFrameHandler(FrameHandler handler, void* context);
  void setResolver(HostResolver resolver);

  // Closes an open connection first, then connects (bounded by 3 s) and
  // starts the receive thread. `wakeFd` (-1: none) ends the connect wait at
  // once when it turns readable, e.g. WakeSignal::fd() of a stopping owner.
  // Returns 1 connected, 0 not (the object is then closed).
  int connect(const char* host, int port, int wakeFd = -1);

  // Shuts the socket down, stops the receive thread (waits for it unless
  // called on it) and closes the socket. Returns 1, also when already closed.
  int close();

  // Sends the whole buffer under the send lock. False when closed or the
  // send failed.
  bool send(const void* data, size_t length);

  // True from a successful connect until close (also after a peer close).
  bool isOpen() const { return socket_.load() >= 0; }
  // True while the receive thread runs.
  bool isReceiving() const { return receiving_.load(); }

  std::string address() const;
  int port() const { return port_.load(); }

 private:
  void receiveLoop();
  void receiveOnce();
  void closeFromReceiveThread();
  void joinReceiveThread();
  static void deliverFrame(const uint8_t* frame, size_t totalLength, void* context);

  std::atomic<int> socket_{-1};
  mutable std::mutex addressLock_;
  std::string address_;
  std::atomic<int> port_{0};

  std::mutex sendLock_;
  std::mutex closeLock_;  // one closer at a time

  FrameHandler handler_ = nullptr;
  void* handlerContext_ = nullptr;
  HostResolver resolver_;

  std::atomic<bool> stop_{false};
  std::atomic<bool> receiving_{false};
  std::thread receiveThread_;
  std::atomic<std::thread::id> receiveThreadId_{};
  WakeSignal stopEvent_;

  FrameReassembler reassembler_;  // receive thread only
};

}  // namespace lumvara
