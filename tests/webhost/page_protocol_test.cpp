#include "apps/webhost/page_protocol.h"

#include <gtest/gtest.h>

namespace lumvara::webhost {
namespace {

TEST(PageProtocol, ReadsEachOp) {
  PageRequest r;
  std::string problem;
  ASSERT_TRUE(ParsePageRequest(R"({"id":1,"op":"create","width":640,"height":360})", &r, &problem)) << problem;
  EXPECT_EQ(r.op, PageOp::kCreate);
  EXPECT_EQ(r.width, 640);
  EXPECT_EQ(r.height, 360);

  ASSERT_TRUE(
      ParsePageRequest(R"({"id":2,"op":"call","control":3,"name":"PlayVideo","args":["a","",1]})", &r, &problem));
  EXPECT_EQ(r.op, PageOp::kCall);
  EXPECT_EQ(r.control, 3);
  EXPECT_EQ(r.name, "PlayVideo");
  EXPECT_EQ(r.args.size(), 3u);
  EXPECT_EQ(r.id.get<int>(), 2);

  ASSERT_TRUE(ParsePageRequest(R"({"id":3,"op":"put","control":1,"name":"RecFileLen","value":10})", &r, &problem));
  EXPECT_EQ(r.op, PageOp::kPut);
  EXPECT_EQ(r.value.get<int>(), 10);

  ASSERT_TRUE(ParsePageRequest(R"({"op":"mouse","control":1,"x":5,"y":6,"button":3,"clicks":1})", &r, &problem));
  EXPECT_EQ(r.op, PageOp::kMouse);
  EXPECT_EQ(r.button, 3);

  ASSERT_TRUE(ParsePageRequest(R"({"id":4,"op":"records","ip":"127.0.0.1","port":8081,"user":"admin","pwd":"",
                                  "from":"2026-12-01T00:00","to":"2026-12-31T23:59:59"})",
                               &r, &problem))
      << problem;
  EXPECT_EQ(r.op, PageOp::kRecords);
  EXPECT_EQ(r.to.second, 59);
  EXPECT_EQ(r.from.month, 12);

  ASSERT_TRUE(ParsePageRequest(R"({"id":5,"op":"propertyPage","control":2,"width":400,"height":160})", &r, &problem))
      << problem;
  EXPECT_EQ(r.op, PageOp::kPropertyPage);
  EXPECT_EQ(r.width, 400);
  EXPECT_EQ(r.height, 160);
}

TEST(PageProtocol, RefusesMalformedMessages) {
  const char* bad[] = {
      "",
      "not json",
      "[1,2]",
      "{\"op\":\"create\",\"width\":10,\"height\":10}",               // no id
      "{\"id\":1,\"op\":\"launch\"}",                                 // unknown op
      "{\"id\":1,\"op\":\"create\",\"width\":0,\"height\":10}",       // zero size
      "{\"id\":1,\"op\":\"create\",\"width\":100000,\"height\":10}",  // too large
      "{\"id\":1,\"op\":\"create\",\"width\":1.5,\"height\":10}",     // not an integer
      "{\"id\":1,\"op\":\"call\",\"name\":\"StopVideo\"}",            // no control
      "{\"id\":1,\"op\":\"call\",\"control\":1}",                     // no name
      "{\"id\":1,\"op\":\"call\",\"control\":1,\"name\":\"X\",\"args\":{}}",
      "{\"id\":1,\"op\":\"put\",\"control\":1,\"name\":\"SoundState\"}",
      "{\"op\":\"mouse\",\"control\":1,\"x\":-1,\"y\":0,\"button\":1,\"clicks\":1}",
      "{\"op\":\"mouse\",\"control\":1,\"x\":1,\"y\":0,\"button\":4,\"clicks\":1}",
      "{\"op\":\"key\",\"control\":1,\"key\":\"Enter\"}",
      "{\"op\":\"propertyPage\",\"control\":1,\"width\":400,\"height\":160}",  // no id
      "{\"id\":1,\"op\":\"propertyPage\",\"control\":1,\"width\":0,\"height\":160}",
      "{\"id\":1,\"op\":\"records\",\"ip\":\"127.0.0.1\",\"port\":8081,\"user\":\"a\",\"pwd\":\"\","
      "\"from\":\"yesterday\",\"to\":\"2026-12-31T23:59\"}",
      "{\"id\":1,\"op\":\"records\",\"ip\":\"127.0.0.1\",\"port\":70000,\"user\":\"a\",\"pwd\":\"\","
      "\"from\":\"2026-12-01T00:00\",\"to\":\"2026-12-31T23:59\"}",
  };
  for (const char* text : bad) {
    PageRequest r;
    std::string problem;
    EXPECT_FALSE(ParsePageRequest(text, &r, &problem)) << text;
    EXPECT_FALSE(problem.empty()) << text;
  }
}

TEST(PageProtocol, KeepsTheIdOfARefusedRequestSoThePageHearsWhy) {
  PageRequest r;
  std::string problem;
  EXPECT_FALSE(ParsePageRequest(R"({"id":9,"op":"call","control":1})", &r, &problem));
  EXPECT_EQ(r.id.get<int>(), 9);
}

TEST(PageProtocol, CalendarTimes) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {
      {"2026-12-10T10:20", true},     {"2026-12-10T10:20:30", true}, {"2026-13-10T10:20", false},
      {"2026-12-00T10:20", false},    {"2026-12-10T24:00", false},   {"2026-12-10 10:20", false},
      {"2026-12-10T10:20:60", false}, {"26-12-10T10:20", false},     {"2026-12-10T10:2x", false},
  };
  for (const Case& c : cases) {
    CalendarTime t;
    EXPECT_EQ(ParseCalendarTime(c.text, &t), c.ok) << c.text;
  }
}

}  // namespace
}  // namespace lumvara::webhost
