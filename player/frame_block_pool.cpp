#include "player/frame_block_pool.h"

#include <sys/mman.h>

#include <cstring>

#include "player/net_stream_play.h"

namespace lumvara {
namespace {

// A block is the frame's kFrameBlockSize bytes, then its input time; the
// mapping rounds up to whole pages, which the frame leaves room for.
constexpr size_t kMappedBlockSize = kFrameBlockSize + sizeof(double);

// A fresh anonymous mapping of kMappedBlockSize bytes, or null.
uint8_t* MapBlock() {
  void* block = mmap(nullptr, kMappedBlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : static_cast<uint8_t*>(block);
}

void UnmapBlock(uint8_t* block) { munmap(block, kMappedBlockSize); }

}  // namespace

void FrameBlockReturn::operator()(uint8_t* block) const {
  if (block == nullptr) {
    return;
  }
  if (pool == nullptr) {
    UnmapBlock(block);
    return;
  }
  pool->giveBack(block);
}

FrameBlockPool::FrameBlockPool(size_t spareLimit) : spareLimit_(spareLimit) {}

FrameBlockPool::~FrameBlockPool() {
  for (uint8_t* block : spare_) {
    UnmapBlock(block);
  }
}

FrameBlock FrameBlockPool::copyOf(const uint8_t* frame, uint32_t length, double inputMillis) {
  if (frame == nullptr || length > kFrameBlockSize) {
    return FrameBlock(nullptr, FrameBlockReturn{this});
  }
  uint8_t* block = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!spare_.empty()) {
      block = spare_.back();
      spare_.pop_back();
    }
  }
  if (block == nullptr) {
    block = MapBlock();
    if (block == nullptr) {
      return FrameBlock(nullptr, FrameBlockReturn{this});
    }
  }
  std::memcpy(block, frame, length);
  std::memcpy(block + kFrameBlockSize, &inputMillis, sizeof inputMillis);
  return FrameBlock(block, FrameBlockReturn{this});
}

double FrameBlockPool::inputMillisOf(const uint8_t* block) {
  double inputMillis = 0;
  std::memcpy(&inputMillis, block + kFrameBlockSize, sizeof inputMillis);
  return inputMillis;
}

size_t FrameBlockPool::spareCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return spare_.size();
}

void FrameBlockPool::giveBack(uint8_t* block) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (spare_.size() < spareLimit_) {
      spare_.push_back(block);
      return;
    }
  }
  UnmapBlock(block);
}

}  // namespace lumvara
