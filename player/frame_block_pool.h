#pragma once
// Fixed-size frame blocks for the players' queues. Every frame a player
// queues is copied whole (header and payload) into one block of
// kFrameBlockSize bytes that the queue owns until its consumer is done with
// it. Each block is a mapping of its own, so only the pages a frame is
// copied into become resident and a freed block goes back to the system
// whole (from the general heap, freed blocks stay resident in its arenas
// once its mapping threshold has moved above their size, and a long-running
// view grows). At 25 frames a second a fresh mapping per frame would cost
// its page faults each time, so each player keeps a few returned blocks for
// reuse; blocks beyond that are unmapped.
//
// Any thread. The pool's lock is held only to take or give back a block,
// never while a block is filled or read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace lumvara {

class FrameBlockPool;

// Gives a block back to the pool that handed it out. The pool must outlive
// every block it handed out (players declare it before their queues).
struct FrameBlockReturn {
  FrameBlockPool* pool = nullptr;
  void operator()(uint8_t* block) const;
};

using FrameBlock = std::unique_ptr<uint8_t[], FrameBlockReturn>;

class FrameBlockPool {
 public:
  // Keeps at most `spareLimit` returned blocks for reuse.
  explicit FrameBlockPool(size_t spareLimit = 8);
  ~FrameBlockPool();
  FrameBlockPool(const FrameBlockPool&) = delete;
  FrameBlockPool& operator=(const FrameBlockPool&) = delete;

  // A block of kFrameBlockSize bytes holding a copy of `frame` (`length`
  // bytes, at most kFrameBlockSize); null when `length` is too large or
  // no memory is left. The bytes after `length` are unspecified.
  // `inputMillis` (when the frame reached the player) travels with the
  // block, after its kFrameBlockSize bytes.
  FrameBlock copyOf(const uint8_t* frame, uint32_t length, double inputMillis = 0);

  // The `inputMillis` a block of a pool was made with.
  static double inputMillisOf(const uint8_t* block);

  // Blocks kept for reuse right now.
  size_t spareCount();

 private:
  friend struct FrameBlockReturn;
  void giveBack(uint8_t* block);

  const size_t spareLimit_;
  std::mutex lock_;
  std::vector<uint8_t*> spare_;  // mapped blocks, guarded by lock_
};

}  // namespace lumvara
