#include "player/net_stream_play.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "player/drawing_token.h"
#include "player/live_player_list.h"

namespace lumvara {
namespace {

// Counts what happens to it; the counters outlive the player.
struct Trace {
  std::atomic<int> stops{0};
  std::atomic<int> destroyed{0};
  std::atomic<int> stopsBeforeDestruction{0};
};

class TracedPlayer : public CNetStreamPlay {
 public:
  explicit TracedPlayer(Trace& trace) : trace_(trace) {}
  ~TracedPlayer() override {
    trace_.stopsBeforeDestruction.store(trace_.stops.load());
    trace_.destroyed.fetch_add(1);
  }
  int stopPlay() override {
    trace_.stops.fetch_add(1);
    return 1;
  }
  int startlocalrecord(LocalRecordRequest request) override {
    kept = request;
    return 1;
  }
  LocalRecordRequest kept{};

 private:
  Trace& trace_;
};

// Every public player call on `player` for the operations TracedPlayer does
// not implement; `width` and `height` are the picture size outputs.
std::vector<int> callsTracedPlayerLacks(LumvaraPlayer player, int* width, int* height) {
  OsdStringRecord record{};
  unsigned char buffer[4] = {};
  const unsigned char frame[32] = {0x55, 0xAA, 0x15, 0xA8};
  return {
      x_player_startPlay(player),
      x_player_setPlayWnd(player, reinterpret_cast<LumvaraWindow>(0x10)),
      x_player_refreshLastPicture(player),
      x_player_inputNetFrame(player, frame, sizeof frame),
      x_player_getListFrameNum(player),
      x_player_openSound(player),
      x_player_closeSound(player),
      x_player_setOsdString(player, 0, &record),
      x_player_removeOsdstring(player, 0),
      x_player_capturePicture(player, "/nonexistent/lumvara/never.bmp"),
      x_player_capturePictureBuf(player, buffer),
      x_player_getPlayPicSize(player, width, height),
      x_player_adjustViewArea(player, 1, 2, 3, 4),
      x_player_setRenderEffect(player, 1),
      x_player_renderActualProportion(player, 1),
      x_player_stoplocalrecord(player),
      x_player_getrecordstatus(player),
  };
}

// A player answers the public calls for operations it does not do with 0
// and leaves the caller's outputs alone, as a handle that is not live does;
// the operations it does do reach it.
TEST(PlayerInterface, OperationsAPlayerDoesNotDoFailThroughThePublicCalls) {
  Trace trace;
  auto* player = new TracedPlayer(trace);
  appendLivePlayer(player);
  int notAPlayer = 0;
  for (LumvaraPlayer handle : {static_cast<LumvaraPlayer>(player), static_cast<LumvaraPlayer>(&notAPlayer)}) {
    int width = 7;
    int height = 7;
    const auto results = callsTracedPlayerLacks(handle, &width, &height);
    for (size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(results[i], 0) << "call " << i << (handle == player ? " on the player" : " on no player");
    }
    EXPECT_EQ(x_player_getPlayWnd(handle), nullptr);
    EXPECT_EQ(width, 7);
    EXPECT_EQ(height, 7);
  }
  EXPECT_EQ(x_player_stopPlay(player), 1);
  EXPECT_EQ(trace.stops.load(), 1);
  EXPECT_EQ(x_player_stopPlay(&notAPlayer), 0);
  EXPECT_EQ(x_player_destroyPlayInstance(player), 1);
}

// A request passes whole, by value: every one of its 784 bytes arrives,
// including those after each text's terminator.
TEST(PlayerRecords, RecordRequestPassesWholeByValue) {
  LocalRecordRequest request;
  std::memset(&request, 0, sizeof request);
  std::strcpy(request.rootPath, "/home/user/records");
  std::strcpy(request.cameraName, "127_0_0_1");
  request.fileSizeMB = 10;
  request.fileMinutes = 0;
  request.reservedMB = 50;
  request.cover = 1;
  Trace trace;
  TracedPlayer player(trace);
  CNetStreamPlay& asInterface = player;
  EXPECT_EQ(asInterface.startlocalrecord(request), 1);
  EXPECT_EQ(std::memcmp(&player.kept, &request, sizeof request), 0);
}

TEST(LivePlayerList, DestroyRemovesStopsAndDeletesOnce) {
  Trace trace;
  auto* player = new TracedPlayer(trace);
  appendLivePlayer(player);
  EXPECT_EQ(isLivePlayer(player), 1);

  EXPECT_EQ(x_player_destroyPlayInstance(player), 1);
  EXPECT_EQ(trace.stopsBeforeDestruction.load(), 1);
  EXPECT_EQ(trace.destroyed.load(), 1);
  EXPECT_EQ(isLivePlayer(player), 0);

  // A second destroy of the same handle is refused and touches nothing.
  EXPECT_EQ(x_player_destroyPlayInstance(player), 0);
  EXPECT_EQ(trace.destroyed.load(), 1);
  EXPECT_EQ(x_player_destroyPlayInstance(nullptr), 0);
}

TEST(LivePlayerList, UnknownHandlesAreNotLive) {
  int notAPlayer = 0;
  EXPECT_EQ(isLivePlayer(nullptr), 0);
  EXPECT_EQ(isLivePlayer(&notAPlayer), 0);
  EXPECT_EQ(x_player_destroyPlayInstance(&notAPlayer), 0);
}

TEST(LivePlayerList, OtherPlayersStayLive) {
  Trace first;
  Trace second;
  auto* a = new TracedPlayer(first);
  auto* b = new TracedPlayer(second);
  appendLivePlayer(a);
  appendLivePlayer(b);
  EXPECT_EQ(x_player_destroyPlayInstance(a), 1);
  EXPECT_EQ(isLivePlayer(b), 1);
  EXPECT_EQ(second.destroyed.load(), 0);
  EXPECT_EQ(x_player_destroyPlayInstance(b), 1);
}

// Players created, checked and destroyed from several threads at once.
TEST(LivePlayerList, ConcurrentUseKeepsMembershipExact) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<Trace> traces(kThreads * kRounds);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        auto* player = new TracedPlayer(traces[static_cast<size_t>(t * kRounds + r)]);
        appendLivePlayer(player);
        if (isLivePlayer(player) != 1 || x_player_destroyPlayInstance(player) != 1 ||
            x_player_destroyPlayInstance(player) != 0) {
          failures.fetch_add(1);
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(failures.load(), 0);
  for (const Trace& trace : traces) {
    EXPECT_EQ(trace.destroyed.load(), 1);
  }
}

TEST(DrawingToken, StartupsAndShutdownsStayBalanced) {
  ASSERT_FALSE(drawingStarted());
  EXPECT_TRUE(drawingStartup());   // a native caller
  EXPECT_TRUE(drawingStartup());   // a control's live view
  EXPECT_TRUE(drawingShutdown());  // the live view ends
  EXPECT_TRUE(drawingStarted());   // the native caller's start-up holds
  EXPECT_TRUE(drawingShutdown());
  EXPECT_FALSE(drawingStarted());
  // An unbalanced shut-down is refused and does not go below zero.
  EXPECT_FALSE(drawingShutdown());
  EXPECT_TRUE(drawingStartup());
  EXPECT_TRUE(drawingStarted());
  EXPECT_TRUE(drawingShutdown());
}

}  // namespace
}  // namespace lumvara
