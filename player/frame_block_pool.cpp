#include "player/frame_block_pool.h"

#include <cstring>
#include <new>

#include "player/net_stream_play.h"

namespace lumvara {

void FrameBlockReturn::operator()(uint8_t* block) const
{
    if (block == nullptr) {
        return;
    }
    if (pool == nullptr) {
        delete[] block;
        return;
    }
    pool->giveBack(block);
}

FrameBlockPool::FrameBlockPool(size_t spareLimit) : spareLimit_(spareLimit) {}

FrameBlockPool::~FrameBlockPool() = default;

FrameBlock FrameBlockPool::copyOf(const uint8_t* frame, uint32_t length)
{
    if (frame == nullptr || length > kFrameBlockSize) {
        return FrameBlock(nullptr, FrameBlockReturn{this});
    }
    std::unique_ptr<uint8_t[]> block;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!spare_.empty()) {
            block = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (block == nullptr) {
        // Left uninitialised on purpose: only the pages a frame is copied
        // into become resident.
        block.reset(new (std::nothrow) uint8_t[kFrameBlockSize]);
        if (block == nullptr) {
            return FrameBlock(nullptr, FrameBlockReturn{this});
        }
    }
    std::memcpy(block.get(), frame, length);
    return FrameBlock(block.release(), FrameBlockReturn{this});
}

size_t FrameBlockPool::spareCount()
{
    std::lock_guard<std::mutex> guard(lock_);
    return spare_.size();
}

void FrameBlockPool::giveBack(uint8_t* block)
{
    std::unique_ptr<uint8_t[]> owned(block);
    std::lock_guard<std::mutex> guard(lock_);
    if (spare_.size() < spareLimit_) {
        spare_.push_back(std::move(owned));
    }
}

}  // namespace lumvara
