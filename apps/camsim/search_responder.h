// The camera's LAN search responder: answers every "DH" 0x0101 search request
// with "DH" 0x0801 and the 320-byte camera description, sent to the address
// and port the request came from. Tests bind it on loopback or inside network
// namespaces they create; it never sends anywhere but to a requester.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace lumvara::camsim {

inline constexpr size_t kSearchRecordSize = 320;
inline constexpr size_t kSearchAnswerSize = 4 + kSearchRecordSize;

struct SearchResponderOptions {
  std::string bind_address = "127.0.0.1";  // "0.0.0.0" inside a namespace to hear broadcasts
  uint16_t port = 8600;                    // 0 = ephemeral
  // What the answer record describes.
  std::string camera_ip = "127.0.0.1";
  uint16_t camera_port = 81;
  std::string camera_name = "Lumvara Simulator";
  // Answers sent per request (2 shows a duplicate answer).
  int copies = 1;
  // Bytes per answer datagram; below kSearchAnswerSize sends a short answer.
  size_t answer_size = kSearchAnswerSize;
};

class SearchResponder {
 public:
  explicit SearchResponder(SearchResponderOptions options = {});
  ~SearchResponder();  // stops
  SearchResponder(const SearchResponder&) = delete;
  SearchResponder& operator=(const SearchResponder&) = delete;

  bool start();
  void stop();
  uint16_t port() const { return boundPort_; }
  int requestsAnswered() const { return answered_.load(); }

  // The answer datagram for these options: "DH", 0x0801 little-endian, record.
  static std::string buildAnswer(const SearchResponderOptions& options);

 private:
  void run();

  SearchResponderOptions options_;
  int socket_ = -1;
  int wake_ = -1;  // eventfd that ends the receive loop
  uint16_t boundPort_ = 0;
  std::atomic<int> answered_{0};
  std::thread thread_;
};

}  // namespace lumvara::camsim
