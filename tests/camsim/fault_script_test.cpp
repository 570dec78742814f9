#include <gtest/gtest.h>

#include "apps/camsim/stream_frame.h"
#include "camsim/simulator_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace lumvara::camsim;
using camsim_test::Command;
using camsim_test::RawClient;
using camsim_test::ReadAnswer;
using camsim_test::SimulatorTest;
using Action = ConnectionScript::Action;

using LiveFault = SimulatorTest;

// What a client sees after the scripted number of good frames.
enum class Seen { kNotice, kNoticeThenClose, kBadMagic, kOversized, kSilence, kClose };

TEST_F(LiveFault, ActsAfterTheScriptedNumberOfFrames) {
  struct Case {
    const char* name;
    Action action;
    uint8_t notice;
    bool close_after_notice;
    uint32_t after;
    Seen seen;
  };
  const Case cases[] = {
      {"refusal 200", Action::kNotice, kKindLoginRefused, true, 0, Seen::kNoticeThenClose},
      {"refusal 202", Action::kNotice, kKindRequestTypeError, false, 3, Seen::kNotice},
      {"video loss 203", Action::kNotice, kKindVideoLoss, false, 1, Seen::kNotice},
      {"corrupt magic", Action::kCorruptMagic, 0, false, 2, Seen::kBadMagic},
      {"oversized length", Action::kOversizedLength, 0, false, 0, Seen::kOversized},
      {"silence", Action::kSilence, 0, false, 2, Seen::kSilence},
      {"close", Action::kClose, 0, false, 2, Seen::kClose},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionScript script;
    script.cgi = "livestream.cgi";
    script.action = c.action;
    script.notice_kind = c.notice;
    script.close_after_notice = c.close_after_notice;
    script.after_frames = c.after;
    sim().scriptConnection(script);
    RawClient client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.request(camsim_test::LiveTarget()));
    for (uint32_t i = 0; i < c.after; ++i) {
      const auto frame = client.readFrame();
      ASSERT_TRUE(frame.has_value());
      EXPECT_LT(readFrameHeader(frame->data()).kind, 2);
    }
    switch (c.seen) {
      case Seen::kNotice:
      case Seen::kNoticeThenClose: {
        const auto frame = client.readFrame();
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(readFrameHeader(frame->data()).kind, c.notice);
        if (c.seen == Seen::kNoticeThenClose) {
          EXPECT_TRUE(client.closedWithin(2s));
        } else {
          EXPECT_TRUE(client.readFrame().has_value());  // the stream goes on
        }
        break;
      }
      case Seen::kBadMagic: {
        const auto header = client.readFrame();
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(getLe32(header->data()) & 0x00FFFFFFu, kFrameMagic & 0x00FFFFFFu);
        EXPECT_NE((*header)[3], static_cast<uint8_t>(kFrameMagic >> 24));
        break;
      }
      case Seen::kOversized: {
        const auto header = client.readFrame();
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(readFrameHeader(header->data()).magic, kFrameMagic);
        EXPECT_EQ(readFrameHeader(header->data()).length, kMaxFramePayload + 1);
        break;
      }
      case Seen::kSilence:
        EXPECT_FALSE(client.readOnce(400ms).has_value());  // open, and quiet
        break;
      case Seen::kClose:
        EXPECT_TRUE(client.closedWithin(2s));
        break;
    }
  }
}

TEST_F(LiveFault, OddPiecesDeliverTheSameFramesInSmallReads) {
  ConnectionScript script;
  script.pieces = {7, 13, 3};
  script.piece_gap = 20ms;
  sim().scriptConnection(script);
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request(camsim_test::LiveTarget()));
  const auto first = client.readOnce(3s);
  ASSERT_TRUE(first.has_value());
  EXPECT_LT(first->size(), kFrameHeaderSize);  // the header itself arrives cut up
  // The pieces still add up to good frames.
  RawClient whole;
  ConnectionScript bytewise;
  bytewise.pieces = {1};
  sim().scriptConnection(bytewise);
  ASSERT_TRUE(whole.connect(port()));
  ASSERT_TRUE(whole.request(camsim_test::LiveTarget()));
  const auto frame = whole.readFrame(10s);
  ASSERT_TRUE(frame.has_value());
  const FrameFields fields = readFrameHeader(frame->data());
  EXPECT_EQ(fields.magic, kFrameMagic);
  EXPECT_EQ(fields.kind, kKindH264Key);
}

TEST_F(LiveFault, ScriptWaitsForTheConnectionItNames) {
  ConnectionScript script;
  script.cgi = "get_params.cgi";
  script.action = Action::kClose;
  sim().scriptConnection(script);
  RawClient live;
  ASSERT_TRUE(live.connect(port()));
  ASSERT_TRUE(live.request(camsim_test::LiveTarget()));
  EXPECT_TRUE(live.readFrame().has_value());  // untouched
  RawClient command;
  ASSERT_TRUE(command.connect(port()));
  ASSERT_TRUE(command.request(Command("get_params.cgi")));
  const auto rest = command.readToEnd(2s);
  ASSERT_TRUE(rest.has_value());
  EXPECT_TRUE(rest->empty());
}

using CommandFault = SimulatorTest;

TEST_F(CommandFault, AnswerFaults) {
  ConnectionScript silence;
  silence.action = Action::kSilence;
  ConnectionScript cut;
  cut.action = Action::kCutBody;
  ConnectionScript capital;
  capital.content_length_field = "Content-Length:";
  ConnectionScript omitted;
  omitted.omit_content_length = true;
  ConnectionScript trickle;
  trickle.pieces = {1};
  trickle.piece_gap = 5ms;

  {
    SCOPED_TRACE("silence");
    sim().scriptConnection(silence);
    RawClient client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.request(Command("get_params.cgi")));
    EXPECT_FALSE(client.readOnce(400ms).has_value());
  }
  {
    SCOPED_TRACE("cut body");
    sim().scriptConnection(cut);
    RawClient client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.request(Command("get_params.cgi")));
    const auto answer = ReadAnswer(client, 1500ms);  // what came before the silence
    ASSERT_TRUE(answer.has_value());
    EXPECT_GT(answer->declared_length, 0);
    EXPECT_EQ(answer->body.size(), static_cast<size_t>(answer->declared_length) / 2);
  }
  for (const ConnectionScript* script : {&capital, &omitted}) {
    SCOPED_TRACE(script->omit_content_length ? "omitted" : "capital L");
    sim().scriptConnection(*script);
    RawClient client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.request(Command("get_misc.cgi")));
    std::string text;
    while (text.find("led_mode") == std::string::npos) {
      const auto chunk = client.readOnce(2s);
      ASSERT_TRUE(chunk.has_value() && !chunk->empty());
      text.append(chunk->begin(), chunk->end());
    }
    EXPECT_EQ(text.find("Content-length:"), std::string::npos);
    EXPECT_EQ(text.find("Content-Length:") != std::string::npos, !script->omit_content_length);
  }
  {
    SCOPED_TRACE("trickle");
    sim().scriptConnection(trickle);
    RawClient client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.request(Command("set_alias.cgi", "&alias=x")));
    const auto first = client.readOnce(2s);
    ASSERT_TRUE(first.has_value());
    EXPECT_LT(first->size(), 32u);  // far from the whole answer
    const auto answer = ReadAnswer(client, 10s);
    ASSERT_TRUE(answer.has_value());
  }
}

}  // namespace
