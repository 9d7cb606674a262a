#pragma once
// Pictures and sound of the virtual devices: a moving Wide scene with a running clock, a finely
// detailed Macro surface shaken by a head tremor, an exact test pattern, and microphone signals.
// Everything expensive is computed once per size into a texture; a frame is then a copy of
// shifted rows plus a few small drawings, so two 1080p streams stay cheap.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

enum class SceneKind : uint8_t {
    Wide,        // scrolling landscape, a moving ball and the stream clock "HH:MM:SS.cc"
    Macro,       // fine surface texture, shifted by the simulated head tremor
    Pattern,     // ScenePatternPixel, for exact pixel checks
    Tone,        // quiet 440 Hz tone with noise (about -37 dBFS)
    Silence,     // digital zero
    SquareWave,  // full-scale 1 kHz square wave
};

// The tremor never moves the Macro surface further than this many pixels from its rest position.
constexpr int32_t SCENE_TREMOR_MARGIN = 6;

// Precomputed picture of one video scene at one size.
struct SceneCanvas {
    SceneKind kind = SceneKind::Pattern;
    int32_t width = 0;
    int32_t height = 0;
    int32_t textureWidth = 0;
    int32_t textureHeight = 0;
    std::vector<uint32_t> texture;  // BGRX pixels, textureWidth per row
};

// Prepares `canvas` for `kind` at width × height (both at least 1). Pattern needs no texture.
// Returns false when the texture cannot be allocated.
bool ScenePrepare(SceneCanvas& canvas, SceneKind kind, int32_t width, int32_t height);

// Draws the top `rows` rows of frame `frameIndex`, taken at stream time `time100ns`, as 32-bit
// BGRX pixels; image row i goes to row0 + i × pitch (a negative pitch writes a bottom-up image).
void SceneDrawFrame(const SceneCanvas& canvas, int64_t frameIndex, int64_t time100ns, uint8_t* row0,
                    ptrdiff_t pitch, int32_t rows);

// The test pattern: blue = x, green = y, red = frame index plus the 256-pixel block, and an
// alpha byte that varies (so that forcing it opaque is observable).
uint32_t ScenePatternPixel(int32_t x, int32_t y, int64_t frameIndex);

// Offset of the Macro surface at a stream time, in whole pixels, each within
// ±(SCENE_TREMOR_MARGIN − 1).
void SceneTremor(int64_t time100ns, int32_t* dx, int32_t* dy);

// Marks for measuring sound against picture. The virtual Wide camera and the Tone microphone
// mark the same instants of one clock shared by every device of the process (100-ns units):
// every SCENE_MARK_PERIOD the Wide picture shows a white SceneFlashRect for SCENE_FLASH_LENGTH
// (long enough to outlast the frames a slow recording drops; its first frame is the mark) and
// the sound has a full-scale click of SCENE_CLICK_MS (its first sample is the mark).
constexpr int64_t SCENE_MARK_PERIOD = 20'000'000;
constexpr int64_t SCENE_FLASH_LENGTH = 5'000'000;
constexpr uint32_t SCENE_CLICK_MS = 2;

struct SceneRect {
    int32_t left, top, right, bottom;  // pixels, right and bottom exclusive
};
// The flash in the Wide picture: centred horizontally, in the lower part of the camera image
// (the upper part once the picture is turned by 180 degrees).
SceneRect SceneFlashRect(int32_t width, int32_t height);
// Whether a picture taken at `sharedTime` shows the flash.
bool SceneFlashAt(int64_t sharedTime);
// Paints the flash over the top `rows` rows of a frame drawn by SceneDrawFrame.
void SceneDrawFlash(const SceneCanvas& canvas, uint8_t* row0, ptrdiff_t pitch, int32_t rows);
// Puts the clicks into interleaved sound whose first frame is frame `sharedFirstFrame` of the
// shared clock at `sampleRate` (the clock's time × rate / 10^7). Only the Tone scene clicks.
void SceneAddClicks(SceneKind kind, int64_t sharedFirstFrame, uint32_t sampleRate, uint32_t channels,
                    std::span<float> samples);

// Value of an audio scene at an absolute sample-frame index and channel, −1 … 1.
float SceneAudioValue(SceneKind kind, uint64_t frame, uint32_t channel, uint32_t sampleRate);

// Fills interleaved frames starting at `firstFrame`; out.size() is frames × channels.
void SceneFillFloat(SceneKind kind, uint64_t firstFrame, uint32_t sampleRate, uint32_t channels,
                    std::span<float> out);
