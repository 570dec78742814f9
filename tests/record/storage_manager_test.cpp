// The storage manager: free-space figure, deletion of the oldest day
// folder when covering is allowed, and a prompt stop.

#include "record/storage_manager.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "record/avi_recorder.h"
#include "tests/record/record_test_media.h"

namespace lumvara {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

LocalRecordRequest MakeRequest(const std::string& root, uint32_t cover) {
  return test::MakeRequest(root, "cam", cover);
}

void WriteFile(const fs::path& path, size_t bytes = 100) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << std::string(bytes, 'x');
}

// Polls until the condition holds or the time is up.
template <typename F>
bool Eventually(F condition, std::chrono::milliseconds limit = 3s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

class StorageManagerTest : public ::testing::Test {
 protected:
  // Day folders created oldest first, a little apart so that their birth
  // (or change) times differ.
  void MakeOldDays() {
    WriteFile(records_ / "20261201/cam/20261201_080000_1.avi");
    WriteFile(records_ / "20261201/other/deep/er/file.bin");
    std::this_thread::sleep_for(20ms);
    WriteFile(records_ / "20261202/cam/20261202_080000_1.avi");
    std::this_thread::sleep_for(20ms);
    WriteFile(records_ / "notes.txt");
  }

  RecorderEnvironment Environment(std::chrono::milliseconds cycle) {
    RecorderEnvironment env;
    env.clock = clock_.Clock();
    env.storageCycle = cycle;
    env.freeSpace = [this](const std::string&) -> std::optional<uint64_t> {
      if (queryFails_) return std::nullopt;
      return freeMB_.load() << 20;
    };
    return env;
  }

  test::TempDir dir_;
  fs::path records_ = fs::path(dir_.path()) / "RecordFiles";
  test::ManualClock clock_;  // today is 2026-12-10
  std::atomic<uint64_t> freeMB_{150};
  std::atomic<bool> queryFails_{false};
};

TEST_F(StorageManagerTest, CoverDeletesTheOldestDayFolderWithinOneCycle) {
  MakeOldDays();
  CAviRecorder recorder(Environment(5s));
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path(), 1), 240, 320, 0), 1);
  EXPECT_TRUE(Eventually([&] { return !fs::exists(records_ / "20261201"); }));
  // One folder per cycle: the next oldest waits for the next cycle.
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(fs::exists(records_ / "20261202/cam/20261202_080000_1.avi"));
  EXPECT_TRUE(fs::exists(records_ / "notes.txt"));
  recorder.Stop();
}

TEST_F(StorageManagerTest, KeepsDeletingCycleByCycleButNeverTheFileBeingRecorded) {
  MakeOldDays();
  WriteFile(records_ / "20261210/othercam/20261210_000000_0.avi");
  CAviRecorder recorder(Environment(30ms));
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path(), 1), 240, 320, 0), 1);
  const std::string current = recorder.FilePath();
  EXPECT_TRUE(
      Eventually([&] { return !fs::exists(records_ / "20261202") && !fs::exists(records_ / "20261210/othercam"); }));
  // Today's folder is now the oldest: everything in it goes except the open
  // file, so the folder stays.
  EXPECT_TRUE(fs::exists(current));
  EXPECT_TRUE(fs::exists(records_ / "notes.txt"));
  std::vector<int16_t> samples(1024);
  EXPECT_EQ(recorder.WriteAudio(samples.data()), 1);
  recorder.Stop();
}

// Two players recording into one tree, both covering: their managers race
// over the same folders, and each keeps the other's open file.
TEST_F(StorageManagerTest, TwoRecordersCoveringTheSameTreeKeepEachOthersFiles) {
  MakeOldDays();
  CAviRecorder first(Environment(10ms));
  CAviRecorder second(Environment(10ms));
  ASSERT_EQ(first.Start(test::MakeRequest(dir_.path(), "cam1", 1), 240, 320, 0), 1);
  ASSERT_EQ(second.Start(test::MakeRequest(dir_.path(), "cam2", 1), 240, 320, 0), 1);
  EXPECT_TRUE(Eventually([&] { return !fs::exists(records_ / "20261201") && !fs::exists(records_ / "20261202"); }));
  std::vector<int16_t> samples(1024);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(first.WriteAudio(samples.data()), 1);
    ASSERT_EQ(second.WriteAudio(samples.data()), 1);
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(fs::exists(first.FilePath()));
  EXPECT_TRUE(fs::exists(second.FilePath()));
  first.Stop();
  second.Stop();
}

TEST_F(StorageManagerTest, NothingIsDeletedWithoutCoverOrWithEnoughSpace) {
  struct Case {
    uint32_t cover;
    uint64_t freeMB;
  };
  for (const Case c : {Case{0, 150}, Case{1, 200}, Case{0, 10}}) {
    SCOPED_TRACE(testing::Message() << "cover " << c.cover << ", free " << c.freeMB);
    MakeOldDays();
    freeMB_ = c.freeMB;
    CAviRecorder recorder(Environment(10ms));
    ASSERT_EQ(recorder.Start(MakeRequest(dir_.path(), c.cover), 240, 320, 0), 1);
    std::this_thread::sleep_for(150ms);  // many cycles
    recorder.Stop();
    EXPECT_TRUE(fs::exists(records_ / "20261201/other/deep/er/file.bin"));
    EXPECT_TRUE(fs::exists(records_ / "20261202/cam/20261202_080000_1.avi"));
    ++clock_.now.millisecond;
  }
}

TEST_F(StorageManagerTest, FailedQueryRefusesVideoAndDeletesNothing) {
  MakeOldDays();
  queryFails_ = true;
  CAviRecorder recorder(Environment(10ms));
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path(), 1), 240, 320, 0), 1);
  EXPECT_EQ(recorder.FreeSpaceMB(), 0u);
  const uint8_t frame[16] = {};
  EXPECT_EQ(recorder.WriteVideo(frame, sizeof frame), 0);
  std::this_thread::sleep_for(100ms);
  recorder.Stop();
  EXPECT_TRUE(fs::exists(records_ / "20261201"));
}

TEST_F(StorageManagerTest, RefreshesTheFigureEveryCycle) {
  freeMB_ = 5000;
  CAviRecorder recorder(Environment(10ms));
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path(), 0), 240, 320, 0), 1);
  EXPECT_EQ(recorder.FreeSpaceMB(), 5000u);
  freeMB_ = 123;
  EXPECT_TRUE(Eventually([&] { return recorder.FreeSpaceMB() == 123u; }));
  recorder.Stop();
  // The figure outlives the file and starts the next one.
  EXPECT_EQ(recorder.FreeSpaceMB(), 123u);
}

TEST_F(StorageManagerTest, StopDuringTheWaitReturnsPromptly) {
  CAviRecorder recorder(Environment(5s));
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path(), 0), 240, 320, 0), 1);
  std::this_thread::sleep_for(50ms);  // the manager is waiting now
  const auto begin = std::chrono::steady_clock::now();
  recorder.Stop();
  const auto took = std::chrono::steady_clock::now() - begin;
  // Woken by the stop signal, not by the end of its 5 s wait; the bound is
  // loose for slow sanitizer builds.
  EXPECT_LT(took, 1s) << std::chrono::duration_cast<std::chrono::microseconds>(took).count() << " us";
}

TEST(DayFolderOrder, OldestCreationFirstThenPath) {
  std::vector<DayFolder> folders = {
      {300, "/r/RecordFiles/20261203"}, {100, "/r/RecordFiles/20261205"},  {100, "/r/RecordFiles/20261204"},
      {0, "/r/RecordFiles/zzz"},        {100, "/r/RecordFiles/20261204x"},
  };
  SortOldestFirst(folders);
  std::vector<std::string> order;
  for (const auto& f : folders) order.push_back(f.path);
  EXPECT_EQ(order,
            (std::vector<std::string>{"/r/RecordFiles/zzz", "/r/RecordFiles/20261204", "/r/RecordFiles/20261204x",
                                      "/r/RecordFiles/20261205", "/r/RecordFiles/20261203"}));
}

TEST(DayFolders, OnlyFoldersAreCandidatesAndLinksAreNeverFollowed) {
  test::TempDir dir;
  const fs::path records = fs::path(dir.path()) / "RecordFiles";
  const fs::path outside = fs::path(dir.path()) / "outside";
  WriteFile(outside / "precious.txt");
  WriteFile(records / "odd-name/cam/a.avi");
  WriteFile(records / "loose.avi");
  fs::create_directory_symlink(outside, records / "link-to-outside");
  fs::create_directory_symlink(outside, records / "odd-name/cam/inner-link");

  const auto folders = ListDayFolders(records.string());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(folders[0].path, (records / "odd-name").string());
  EXPECT_NE(folders[0].createdNs, 0);

  EXPECT_EQ(DeleteOldestDayFolder(records.string()), (records / "odd-name").string());
  EXPECT_FALSE(fs::exists(records / "odd-name"));
  EXPECT_TRUE(fs::exists(outside / "precious.txt"));
  EXPECT_TRUE(fs::exists(records / "loose.avi"));
  EXPECT_TRUE(fs::is_symlink(records / "link-to-outside"));
  // Nothing left to choose: files and links stay for ever.
  EXPECT_EQ(DeleteOldestDayFolder(records.string()), "");
  EXPECT_EQ(DeleteOldestDayFolder((fs::path(dir.path()) / "missing").string()), "");
}

// A real small filesystem: the real free-space query sees a few MB, below
// any reserve, so video is refused; with cover the oldest day goes.
TEST(StorageOnSmallDisk, RefusesVideoBelowTheReserveAndCoversOldDays) {
  test::TempDir dir;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a 16 MB tmpfs (running as uid " << geteuid() << ")";
  if (::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=16m") != 0)
    GTEST_SKIP() << "mounting a 16 MB tmpfs failed: " << std::strerror(errno);
  const fs::path records = fs::path(dir.path()) / "RecordFiles";
  WriteFile(records / "20200101/cam/old.avi", 1 << 20);
  {
    CAviRecorder recorder;  // the real clock and the real statvfs
    ASSERT_EQ(recorder.Start(MakeRequest(dir.path(), 1), 240, 320, 0), 1);
    EXPECT_GT(recorder.FreeSpaceMB(), 10u);
    EXPECT_LE(recorder.FreeSpaceMB(), 16u);
    const uint8_t frame[64] = {};
    EXPECT_EQ(recorder.WriteVideo(frame, sizeof frame), 0);
    EXPECT_TRUE(Eventually([&] { return !fs::exists(records / "20200101"); }));
    recorder.Stop();
  }
  ::umount2(dir.path().c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace lumvara
