#pragma once
// Synthetic camera frames for the stabiliser tests and benchmark: a textured scene and frames
// cut from it with the content moved by a known number of pixels.
#include <cstdint>
#include <vector>

struct TestImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;  // bytes
    std::vector<uint8_t> pixels;  // BGRA, top-down, alpha 255
};

// A frame of the given size; `stride` 0 means tightly packed. Filled with `value` (grey).
TestImage MakeImage(int32_t width, int32_t height, int32_t stride = 0, uint8_t value = 128);

// Smooth random colour texture (detail of a few pixels, like a magnified surface).
TestImage MakeScene(int32_t width, int32_t height, uint32_t seed);

// Fills `frame` with the scene centred on it and its content moved by (dx, dy) pixels
// (positive: right, down). Frame pixels the scene does not cover are grey.
void CutFrame(const TestImage& scene, int32_t dx, int32_t dy, TestImage& frame);
