#pragma once
// LanSearchContext: one UDP socket with broadcast permission, bound to an
// ephemeral port, that sends the "DH" 0x0101 search request and reports each
// "DH" 0x0801 answer to the callback of the latest search.
//
// Threading contract: start(), search() and stop() may be called from any
// thread (the owner serialises start and stop); the callback runs on the
// receive thread, one answer at a time, and must not stop the context.

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include <lumvara/search.h>

#include "platform/sockets/unique_fd.h"
#include "platform/sockets/wake_signal.h"

namespace lumvara {

inline constexpr uint16_t kSearchPort = 8600;
inline constexpr uint8_t kSearchTag0 = 'D';
inline constexpr uint8_t kSearchTag1 = 'H';
inline constexpr uint16_t kSearchRequestCommand = 0x0101;
inline constexpr uint16_t kSearchAnswerCommand = 0x0801;
inline constexpr size_t kSearchHeaderSize = 4;
inline constexpr size_t kSearchRecordSize = sizeof(SearchResultRecord);
inline constexpr size_t kSearchDatagramArea = 1400;
inline constexpr const char* kSearchAddrVariable = "LUMVARA_SEARCH_ADDR";
inline constexpr const char* kSearchPortVariable = "LUMVARA_SEARCH_PORT";

// 255.255.255.255:8600 unless the environment overrides address or port.
sockaddr_in searchDestinationFromEnvironment();

class LanSearchContext {
 public:
  explicit LanSearchContext(sockaddr_in destination);
  ~LanSearchContext();
  LanSearchContext(const LanSearchContext&) = delete;
  LanSearchContext& operator=(const LanSearchContext&) = delete;

  // Socket, broadcast permission, bind, receive thread. False on failure
  // (nothing left open).
  bool start();

  // Stores the callback and context as one pair and sends the request.
  // False when the context is not started or the send failed.
  bool search(SearchResultCallback callback, void* context);

  // Ends the receive thread (waits for a callback in progress) and closes
  // the socket. Must not run on the receive thread.
  void stop();

  bool onReceiveThread() const;
  bool receiving() const { return receiving_.load(); }
  uint16_t localPort() const { return localPort_; }

 private:
  void receiveLoop();
  void handleDatagram(const uint8_t* area, size_t size);

  const sockaddr_in destination_;
  UniqueFd socket_;
  uint16_t localPort_ = 0;
  WakeSignal stopSignal_;
  std::atomic<bool> receiving_{false};
  std::thread receiveThread_;

  std::mutex callbackLock_;  // keeps callback and context a consistent pair
  SearchResultCallback callback_ = nullptr;
  void* callbackContext_ = nullptr;
};

}  // namespace lumvara
