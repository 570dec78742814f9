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
    ~TracedPlayer() override
    {
        trace_.stopsBeforeDestruction.store(trace_.stops.load());
        trace_.destroyed.fetch_add(1);
    }
    int stopPlay() override
    {
        trace_.stops.fetch_add(1);
        return 1;
    }
    int startlocalrecord(LocalRecordRequest request) override
    {
        kept = request;
        return 1;
    }
    LocalRecordRequest kept{};

private:
    Trace& trace_;
};

TEST(PlayerInterface, BaseOperationsReturnZero)
{
    CNetStreamPlay base;
    OsdStringRecord record{};
    int32_t width = 7;
    int32_t height = 7;
    uint8_t buffer[4] = {};
    const uint8_t frame[32] = {};
    const int results[] = {
        base.startPlay(),
        base.stopPlay(),
        base.setPlayWnd(reinterpret_cast<winsys::HWND>(0x10)),
        base.refreshLastPicture(),
        base.inputNetFrame(frame, sizeof frame),
        base.getListFrameNum(),
        base.openSound(),
        base.closeSound(),
        base.setOsdString(0, &record),
        base.removeOsdstring(0),
        base.capturePicture("/tmp/never.bmp"),
        base.capturePictureBuf(buffer),
        base.getPlayPicSize(&width, &height),
        base.adjustViewArea(1, 2, 3, 4),
        base.setRenderEffect(1),
        base.renderActualProportion(1),
        base.startlocalrecord(LocalRecordRequest{}),
        base.stoplocalrecord(),
        base.getrecordstatus(),
    };
    for (size_t i = 0; i < std::size(results); ++i) {
        EXPECT_EQ(results[i], 0) << "operation " << i;
    }
    EXPECT_EQ(base.getPlayWnd(), nullptr);
    EXPECT_EQ(width, 7);
    EXPECT_EQ(height, 7);
}

#if defined(__GXX_ABI_VERSION)
// In the Itanium C++ ABI a pointer to a virtual member holds 1 + its byte
// offset in the virtual table; the destructor takes the first two entries.
template <typename Member>
size_t slotOf(Member member)
{
    static_assert(sizeof(member) == 2 * sizeof(uintptr_t));
    uintptr_t words[2];
    std::memcpy(words, &member, sizeof words);
    return (words[0] - 1) / sizeof(void*);
}

TEST(PlayerInterface, OperationsSitInTheirSlotOrder)
{
    const size_t slots[] = {
        slotOf(&CNetStreamPlay::startPlay),          slotOf(&CNetStreamPlay::stopPlay),
        slotOf(&CNetStreamPlay::setPlayWnd),         slotOf(&CNetStreamPlay::getPlayWnd),
        slotOf(&CNetStreamPlay::refreshLastPicture), slotOf(&CNetStreamPlay::inputNetFrame),
        slotOf(&CNetStreamPlay::getListFrameNum),    slotOf(&CNetStreamPlay::openSound),
        slotOf(&CNetStreamPlay::closeSound),         slotOf(&CNetStreamPlay::setOsdString),
        slotOf(&CNetStreamPlay::removeOsdstring),    slotOf(&CNetStreamPlay::capturePicture),
        slotOf(&CNetStreamPlay::capturePictureBuf),  slotOf(&CNetStreamPlay::getPlayPicSize),
        slotOf(&CNetStreamPlay::adjustViewArea),     slotOf(&CNetStreamPlay::setRenderEffect),
        slotOf(&CNetStreamPlay::renderActualProportion), slotOf(&CNetStreamPlay::startlocalrecord),
        slotOf(&CNetStreamPlay::stoplocalrecord),    slotOf(&CNetStreamPlay::getrecordstatus),
    };
    for (size_t i = 0; i < std::size(slots); ++i) {
        EXPECT_EQ(slots[i], i + 2) << "operation of slot " << i + 1;
    }
}
#endif

TEST(PlayerRecords, LayoutsAreFixed)
{
    EXPECT_EQ(sizeof(OsdStringRecord), 188u);
    EXPECT_EQ(offsetof(OsdStringRecord, left), 36u);
    EXPECT_EQ(offsetof(OsdStringRecord, text), 52u);
    EXPECT_EQ(offsetof(OsdStringRecord, position), 184u);
    EXPECT_EQ(sizeof(LocalRecordRequest), 784u);
    EXPECT_EQ(offsetof(LocalRecordRequest, cameraName), 512u);
    EXPECT_EQ(offsetof(LocalRecordRequest, cover), 780u);
}

// A request passes whole, by value: every one of its 784 bytes arrives,
// including those after each text's terminator.
TEST(PlayerRecords, RecordRequestPassesWholeByValue)
{
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

TEST(LivePlayerList, DestroyRemovesStopsAndDeletesOnce)
{
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

TEST(LivePlayerList, UnknownHandlesAreNotLive)
{
    int notAPlayer = 0;
    EXPECT_EQ(isLivePlayer(nullptr), 0);
    EXPECT_EQ(isLivePlayer(&notAPlayer), 0);
    EXPECT_EQ(x_player_destroyPlayInstance(&notAPlayer), 0);
}

TEST(LivePlayerList, OtherPlayersStayLive)
{
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
TEST(LivePlayerList, ConcurrentUseKeepsMembershipExact)
{
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

TEST(DrawingToken, StartupsAndShutdownsStayBalanced)
{
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
