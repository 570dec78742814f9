// How the library sets up the C library's allocator when it is loaded:
// large blocks stay mappings of their own, and threads share two arenas, so
// that memory freed by threads that come and go is reused rather than kept
// resident in arenas of their own.
#include <gtest/gtest.h>
#include <lumvara/lumvara.h>
#include <malloc.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;  // the sanitizer's allocator replaces the C library's
#else
constexpr bool kOwnAllocator = false;
#endif

// The arenas malloc_info reports, the main one included.
int ArenaCount() {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  if (out == nullptr) return -1;
  malloc_info(0, out);
  std::fclose(out);
  const std::string info(text, size);
  std::free(text);
  int count = 0;
  for (size_t at = info.find("<heap nr="); at != std::string::npos; at = info.find("<heap nr=", at + 1)) ++count;
  return count;
}

class Allocator : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kOwnAllocator) GTEST_SKIP() << "a sanitizer's allocator replaces the C library's here";
    // A call into the library keeps it linked in, and so its load-time setup.
    lumvara_reset_log_handler();
  }
};

TEST_F(Allocator, ThreadsAllocatingAtOnceShareTwoArenas) {
  constexpr int kThreads = 12;
  std::mutex lock;
  std::condition_variable changed;
  int holding = 0;
  bool release = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      // Every thread holds its blocks until all have allocated, so that none
      // can hand its arena on to the next before the others have chosen one.
      std::vector<void*> blocks;
      for (int b = 0; b < 64; ++b) blocks.push_back(std::malloc(1024 + b));
      std::unique_lock<std::mutex> guard(lock);
      ++holding;
      changed.notify_all();
      changed.wait(guard, [&] { return release; });
      guard.unlock();
      for (void* block : blocks) std::free(block);
    });
  }
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return holding == kThreads; });
    release = true;
  }
  changed.notify_all();
  for (auto& thread : threads) thread.join();
  const int arenas = ArenaCount();
  EXPECT_GE(arenas, 1);
  EXPECT_LE(arenas, 2);
}

TEST_F(Allocator, BlocksOfAQuarterMegabyteStayMappingsAfterAHugeOneWasFreed) {
  // Left to itself, the C library would raise its mapping threshold to the
  // huge block's size when it is freed and serve the next block from an arena.
  void* huge = std::malloc(24u << 20);
  ASSERT_NE(huge, nullptr);
  static_cast<volatile char*>(huge)[0] = 1;
  std::free(huge);
  const size_t mappedBefore = mallinfo2().hblkhd;
  void* block = std::malloc(256u << 10);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(mallinfo2().hblkhd, mappedBefore + (256u << 10));
  std::free(block);
  EXPECT_EQ(mallinfo2().hblkhd, mappedBefore);
}

}  // namespace
