// Filling a parameter record from a camera's answer body. Input: one byte
// choosing the family, then the body.

#include <lumvara/device.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/device/param_records.h"

namespace {

struct TextField {
  size_t offset;
  size_t width;
};

#define TEXT(type, member) \
  TextField { offsetof(type, member), sizeof(type::member) }

struct Family {
  int code;
  std::vector<TextField> texts;
};

const Family kFamilies[] = {
    {LUMVARA_CMD_GET_NETWORK,
     {TEXT(NetworkParams, ip), TEXT(NetworkParams, mask), TEXT(NetworkParams, gateway), TEXT(NetworkParams, dns1),
      TEXT(NetworkParams, dns2)}},
    {LUMVARA_CMD_GET_USERS,
     {TEXT(UserParams, user1), TEXT(UserParams, pwd1), TEXT(UserParams, user2), TEXT(UserParams, pwd2),
      TEXT(UserParams, user3), TEXT(UserParams, pwd3)}},
    {LUMVARA_CMD_GET_DDNS,
     {TEXT(DdnsParams, user), TEXT(DdnsParams, pwd), TEXT(DdnsParams, host), TEXT(DdnsParams, proxy_svr)}},
    {LUMVARA_CMD_GET_FTP,
     {TEXT(FtpParams, svr), TEXT(FtpParams, user), TEXT(FtpParams, pwd), TEXT(FtpParams, dir),
      TEXT(FtpParams, reserved)}},
    {LUMVARA_CMD_GET_MAIL,
     {TEXT(MailParams, svr), TEXT(MailParams, user), TEXT(MailParams, pwd), TEXT(MailParams, sender),
      TEXT(MailParams, receiver1), TEXT(MailParams, receiver2), TEXT(MailParams, receiver3),
      TEXT(MailParams, receiver4)}},
    {LUMVARA_CMD_GET_MISC, {}},
    {LUMVARA_CMD_GET_WIFI_SCAN, {}},
};

#undef TEXT

// Every text a caller reads as a C string ends inside its field.
void checkTerminated(const uint8_t* record, const TextField& field) {
  FUZZ_CHECK(std::memchr(record + field.offset, '\0', field.width) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Family& family = kFamilies[data[0] % std::size(kFamilies)];
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);

  const int recordSize = lumvara::readRecordSize(family.code);
  FUZZ_CHECK(recordSize > 0);
  // Exactly the record's size, so that a write past it is caught.
  auto record = std::make_unique<uint8_t[]>(static_cast<size_t>(recordSize));
  std::memset(record.get(), 0xA5, static_cast<size_t>(recordSize));

  if (family.code == LUMVARA_CMD_GET_WIFI_SCAN) {
    FUZZ_CHECK(recordSize == static_cast<int>(sizeof(WifiScanResult)));
    auto& result = *reinterpret_cast<WifiScanResult*>(record.get());
    if (lumvara::fillWifiScan(body, result)) {
      for (const WifiApEntry& entry : result.ap) {
        FUZZ_CHECK(std::memchr(entry.ssid, '\0', sizeof entry.ssid) != nullptr);
        FUZZ_CHECK(std::memchr(entry.mac, '\0', sizeof entry.mac) != nullptr);
        FUZZ_CHECK(std::memchr(entry.dbm0, '\0', sizeof entry.dbm0) != nullptr);
        FUZZ_CHECK(std::memchr(entry.dbm1, '\0', sizeof entry.dbm1) != nullptr);
      }
    }
    return 0;
  }
  if (lumvara::fillReadRecord(family.code, body, record.get())) {
    for (const TextField& field : family.texts) checkTerminated(record.get(), field);
  }
  return 0;
}
