#include "apps/webhost/picture_message.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumvara::webhost {
namespace {

// The page reads the header with DataView at fixed offsets, little-endian:
// the bytes must sit exactly there whatever the machine's byte order.
TEST(PictureMessage, HeaderIsLittleEndianAtFixedOffsets) {
  const std::string h = EncodePictureHeader(PictureHeader{0x01020304u, 0xA0B0C0D0u, 1.5, -2.25});
  ASSERT_EQ(h.size(), kPictureHeaderSize);
  const unsigned char expectedIds[] = {0x04, 0x03, 0x02, 0x01, 0xD0, 0xC0, 0xB0, 0xA0};
  EXPECT_EQ(std::memcmp(h.data(), expectedIds, sizeof expectedIds), 0);
  // 1.5 is 0x3FF8000000000000 and -2.25 is 0xC002000000000000.
  const unsigned char taken[] = {0, 0, 0, 0, 0, 0, 0xF8, 0x3F};
  const unsigned char frame[] = {0, 0, 0, 0, 0, 0, 0x02, 0xC0};
  EXPECT_EQ(std::memcmp(h.data() + 8, taken, sizeof taken), 0);
  EXPECT_EQ(std::memcmp(h.data() + 16, frame, sizeof frame), 0);
}

}  // namespace
}  // namespace lumvara::webhost
