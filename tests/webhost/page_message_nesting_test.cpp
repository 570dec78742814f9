// Page messages nested far deeper than any real one: a page may send up to
// the host's message limit, and every level of an array kept from the
// message costs a stack frame each time it is copied.

#include <gtest/gtest.h>

#include <string>

#include "apps/webhost/page_protocol.h"

namespace lumvara::webhost {
namespace {

// `depth` arrays inside each other, the innermost holding 1.
std::string Nested(size_t depth) { return std::string(depth, '[') + "1" + std::string(depth, ']'); }

// Just under the host's 64 KiB message limit.
constexpr size_t kDeep = 32000;

TEST(PageMessageNesting, DeeplyNestedFieldsAreRefusedAndTheIdKept) {
  const std::string messages[] = {
      R"({"id":7,"op":"call","control":1,"name":"PlayVideo","args":)" + Nested(kDeep) + "}",
      R"({"id":7,"op":"put","control":1,"name":"RecFileLen","value":)" + Nested(kDeep) + "}",
      R"({"id":7,"op":"create","width":640,"height":360,"extra":)" + Nested(kDeep) + "}",
  };
  for (const std::string& message : messages) {
    SCOPED_TRACE(message.substr(0, 60));
    PageRequest r;
    std::string problem;
    EXPECT_FALSE(ParsePageRequest(message, &r, &problem));
    EXPECT_FALSE(problem.empty());
    ASSERT_TRUE(r.id.is_number_integer());
    EXPECT_EQ(r.id.get<int>(), 7);
  }
}

TEST(PageMessageNesting, ModestNestingStillReads) {
  PageRequest r;
  std::string problem;
  ASSERT_TRUE(ParsePageRequest(R"({"id":1,"op":"call","control":1,"name":"F","args":)" + Nested(8) + "}", &r, &problem))
      << problem;
  EXPECT_EQ(r.args.size(), 1u);
  ASSERT_TRUE(ParsePageRequest(R"({"id":2,"op":"put","control":1,"name":"P","value":{"a":[{"b":[1]}]}})", &r, &problem))
      << problem;
  EXPECT_EQ(r.value["a"][0]["b"][0].get<int>(), 1);
}

}  // namespace
}  // namespace lumvara::webhost
