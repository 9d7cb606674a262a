// Reference-counted camera frames and the two latest-frame slots.
// A Frame and its pixels are one allocation; sharing a Frame only moves a reference.
#include "frames/frame_store.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "diag/log.h"
#include "diag/log_streak.h"

namespace {

constexpr int32_t kMaxSide = 32768;
// Pixel rows start on a cache line so SIMD readers may use aligned loads on row 0.
constexpr std::size_t kBlockAlign = 64;
constexpr std::size_t kHeaderBytes = (sizeof(Frame) + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
static_assert(kHeaderBytes % kBlockAlign == 0);

struct PublishedSlots {
    // Guards `frames` and `counts` of both slots. Held only to swap a pointer or touch a
    // counter: never across a FrameRelease, a log call or an allocation.
    std::shared_mutex lock;
    Frame* frames[2] = {nullptr, nullptr};
    uint32_t counts[2] = {0, 0};
};

PublishedSlots slots;
std::atomic<int32_t> liveFrames{0};

void FreeBlock(Frame* frame)
{
    frame->~Frame();
    ::operator delete(static_cast<void*>(frame), std::align_val_t{kBlockAlign});
    liveFrames.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

Frame* FrameCreate(int32_t width, int32_t height, LogStreak* failures)
{
    LogStreak once{};
    LogStreak& streak = failures ? *failures : once;
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
        if (LogStreakFailed(streak)) LogWrite(LOG_ERROR, L"FrameStore: ungueltige Frame-Groesse %dx%d", width, height);
        return nullptr;
    }
    const uint64_t pixelBytes = static_cast<uint64_t>(width) * 4u * static_cast<uint64_t>(height);
    void* block = nullptr;
    // On a 32-bit build the largest frames cannot even be addressed: treat that as lack of memory.
    if (pixelBytes <= SIZE_MAX - kHeaderBytes) {
        block = ::operator new(kHeaderBytes + static_cast<std::size_t>(pixelBytes),
                               std::align_val_t{kBlockAlign}, std::nothrow);
    }
    if (!block) {
        if (LogStreakFailed(streak))
            LogWrite(LOG_ERROR, L"FrameStore: kein Speicher fuer Frame %dx%d (%zu Bytes)", width, height,
                     static_cast<std::size_t>(pixelBytes));
        return nullptr;
    }
    LogStreakSucceeded(streak, L"FrameStore: Frame-Erstellung");
    Frame* frame = new (block) Frame;
    frame->refCount.store(1, std::memory_order_relaxed);
    frame->width = width;
    frame->height = height;
    frame->stride = width * 4;
    frame->pixels = static_cast<uint8_t*>(block) + kHeaderBytes;
    frame->stabOffsetX = 0.0;
    frame->stabOffsetY = 0.0;
    frame->stabZoom = 1.0;
    liveFrames.fetch_add(1, std::memory_order_relaxed);
    return frame;
}

void FrameRetain(Frame* frame)
{
    if (frame) frame->refCount.fetch_add(1, std::memory_order_relaxed);
}

void FrameRelease(Frame* frame)
{
    if (!frame) return;
    // acq_rel: the last holder must see every other holder's reads finished before it frees.
    const int32_t before = frame->refCount.fetch_sub(1, std::memory_order_acq_rel);
    if (before == 1) {
        FreeBlock(frame);
    } else if (before - 1 < 0) {
        // A holder gave back more than it took; freeing now could free the block twice.
        LogWrite(LOG_ERROR, L"FrameStore: Referenzzaehler unter null (%ld)", static_cast<long>(before - 1));
    }
}

void FramePublish(uint32_t slot, Frame* frame)
{
    if (slot > 1) return;
    FrameRetain(frame);
    Frame* old = nullptr;
    {
        std::unique_lock hold(slots.lock);
        old = slots.frames[slot];
        slots.frames[slot] = frame;
        if (frame) slots.counts[slot]++;
    }
    FrameRelease(old);
}

Frame* FrameAcquireLatest(uint32_t slot)
{
    if (slot > 1) return nullptr;
    std::shared_lock hold(slots.lock);
    Frame* frame = slots.frames[slot];
    // The slot's own reference keeps the Frame alive while we add ours under the lock.
    FrameRetain(frame);
    return frame;
}

void FrameClearPublished()
{
    Frame* old[2] = {nullptr, nullptr};
    {
        std::unique_lock hold(slots.lock);
        for (int i = 0; i < 2; i++) {
            old[i] = slots.frames[i];
            slots.frames[i] = nullptr;
            slots.counts[i] = 0;
        }
    }
    FrameRelease(old[0]);
    FrameRelease(old[1]);
}

void FrameTakePublishCounts(uint32_t out[2])
{
    if (!out) return;
    std::unique_lock hold(slots.lock);
    out[0] = slots.counts[0];
    out[1] = slots.counts[1];
    slots.counts[0] = 0;
    slots.counts[1] = 0;
}

int32_t FrameLiveCount()
{
    return liveFrames.load(std::memory_order_relaxed);
}
