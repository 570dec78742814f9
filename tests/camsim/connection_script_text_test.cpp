#include "apps/camsim/connection_script_text.h"

#include <gtest/gtest.h>

namespace {

using namespace lumvara::camsim;
using Action = ConnectionScript::Action;

TEST(ConnectionScriptText, ReadsEveryItem) {
  std::string error;
  const auto script =
      ParseConnectionScript("action=notice,kind=201,after=10,close=1,cgi=livestream.cgi,pieces=7/13/3,gap=5", &error);
  ASSERT_TRUE(script.has_value()) << error;
  EXPECT_EQ(script->action, Action::kNotice);
  EXPECT_EQ(script->notice_kind, 201);
  EXPECT_EQ(script->after_frames, 10u);
  EXPECT_TRUE(script->close_after_notice);
  EXPECT_EQ(script->cgi, "livestream.cgi");
  EXPECT_EQ(script->pieces, (std::vector<size_t>{7, 13, 3}));
  EXPECT_EQ(script->piece_gap, std::chrono::milliseconds(5));

  const auto answer = ParseConnectionScript("length-field=Content-Length:,no-length", &error);
  ASSERT_TRUE(answer.has_value()) << error;
  EXPECT_EQ(answer->content_length_field, "Content-Length:");
  EXPECT_TRUE(answer->omit_content_length);
  EXPECT_EQ(answer->action, Action::kNone);
}

TEST(ConnectionScriptText, ActionNames) {
  const std::pair<const char*, Action> cases[] = {{"none", Action::kNone},
                                                  {"notice", Action::kNotice},
                                                  {"corrupt-magic", Action::kCorruptMagic},
                                                  {"oversized-length", Action::kOversizedLength},
                                                  {"silence", Action::kSilence},
                                                  {"close", Action::kClose},
                                                  {"cut-body", Action::kCutBody}};
  for (const auto& [name, action] : cases) {
    const auto script = ParseConnectionScript(std::string("action=") + name, nullptr);
    ASSERT_TRUE(script.has_value()) << name;
    EXPECT_EQ(script->action, action) << name;
  }
}

TEST(ConnectionScriptText, RefusesWhatItDoesNotUnderstand) {
  for (const char* text : {"action=explode", "kind=256", "kind=-1", "kind=2x", "after=-3", "close=2", "pieces=0",
                           "pieces=", "pieces=7//3", "gap=999999", "colour=red"}) {
    std::string error;
    EXPECT_FALSE(ParseConnectionScript(text, &error).has_value()) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
