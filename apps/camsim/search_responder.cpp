#include "apps/camsim/search_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace lumvara::camsim {
namespace {

constexpr uint16_t kSearchRequest = 0x0101;
constexpr uint16_t kSearchAnswer = 0x0801;
constexpr size_t kRecordIpOffset = 0;
constexpr size_t kRecordPortOffset = 86;
constexpr size_t kRecordNameOffset = 120;
constexpr size_t kRecordNameRoom = 64;
constexpr size_t kRecordIpRoom = 16;
constexpr size_t kMaxDatagram = 1400;

void copyText(std::string& record, size_t offset, const std::string& text, size_t room) {
  const size_t n = std::min(text.size(), room - 1);  // keep the terminating NUL
  record.replace(offset, n, text.substr(0, n));
}

}  // namespace

SearchResponder::SearchResponder(SearchResponderOptions options) : options_(std::move(options)) {}

SearchResponder::~SearchResponder() { stop(); }

std::string SearchResponder::buildAnswer(const SearchResponderOptions& options) {
  std::string answer(kSearchAnswerSize, '\0');
  answer[0] = 'D';
  answer[1] = 'H';
  answer[2] = static_cast<char>(kSearchAnswer & 0xFF);
  answer[3] = static_cast<char>(kSearchAnswer >> 8);
  std::string record(kSearchRecordSize, '\0');
  copyText(record, kRecordIpOffset, options.camera_ip, kRecordIpRoom);
  record[kRecordPortOffset] = static_cast<char>(options.camera_port & 0xFF);
  record[kRecordPortOffset + 1] = static_cast<char>(options.camera_port >> 8);
  copyText(record, kRecordNameOffset, options.camera_name, kRecordNameRoom);
  answer.replace(4, kSearchRecordSize, record);
  return answer;
}

bool SearchResponder::start() {
  if (socket_ >= 0) return true;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  if (inet_pton(AF_INET, options_.bind_address.c_str(), &address.sin_addr) != 1) return false;
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return false;
  const int on = 1;
  setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(socket_);
    socket_ = -1;
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
  boundPort_ = ntohs(address.sin_port);
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    ::close(socket_);
    socket_ = -1;
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void SearchResponder::stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    thread_.join();
  }
  if (socket_ >= 0) ::close(socket_);
  if (wake_ >= 0) ::close(wake_);
  socket_ = wake_ = -1;
}

void SearchResponder::run() {
  const std::string answer = buildAnswer(options_).substr(0, std::min(options_.answer_size, kSearchAnswerSize));
  uint8_t datagram[kMaxDatagram];
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    sockaddr_in sender{};
    socklen_t sender_length = sizeof sender;
    const ssize_t n = ::recvfrom(socket_, datagram, sizeof datagram, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sender),
                                 &sender_length);
    if (n < 4) continue;
    const uint16_t command = static_cast<uint16_t>(datagram[2] | datagram[3] << 8);
    if (datagram[0] != 'D' || datagram[1] != 'H' || command != kSearchRequest) continue;
    answered_.fetch_add(1);  // counted first, so a requester holding an answer sees it
    // Only the requester hears the answer.
    for (int copy = 0; copy < options_.copies; ++copy) {
      ::sendto(socket_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&sender), sender_length);
    }
  }
}

}  // namespace lumvara::camsim
