#pragma once
// Reference-counted camera frames and the two latest-frame slots (Wide, Macro).
// A Frame is one heap block: this header followed by tightly packed top-down BGRA rows.
#include <atomic>
#include <cstdint>

struct LogStreak;

struct Frame {
    std::atomic<int32_t> refCount;
    int32_t width;
    int32_t height;
    int32_t stride;      // width * 4
    uint8_t* pixels;     // row 0, directly behind the header
    double stabOffsetX;  // visible window centre shift, fraction of width
    double stabOffsetY;  // visible window centre shift, fraction of height
    double stabZoom;     // magnification of the visible window (>= 1.0 when read)
};

enum : uint32_t { SLOT_WIDE = 0, SLOT_MACRO = 1 };

// A new Frame with one reference; null (logged) for a size beyond 1..32768 or without memory.
// A caller that asks for a frame per camera sample passes its own streak: its failures are then
// logged once per streak (diag/log_streak.h) instead of once per frame.
Frame* FrameCreate(int32_t width, int32_t height, LogStreak* failures = nullptr);
void FrameRetain(Frame* frame);
void FrameRelease(Frame* frame);

// The slot takes a reference of its own; publishing null empties the slot.
void FramePublish(uint32_t slot, Frame* frame);
// The slot's Frame with a new reference for the caller, or null.
Frame* FrameAcquireLatest(uint32_t slot);
void FrameClearPublished();
// Frames published per slot since the last call (Wide, Macro); zeroes the counters.
void FrameTakePublishCounts(uint32_t out[2]);

// Frames currently allocated in the process (leak checks).
int32_t FrameLiveCount();
