#include "tests/frames/stab_test_frames.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t Next(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Separable 5-tap box blur of one 8-bit plane (across, then down), edges clamped.
std::vector<uint8_t> Blur(std::vector<uint8_t> plane, int32_t width, int32_t height)
{
    for (int32_t pass = 0; pass < 2; pass++) {
        const std::vector<uint8_t> in = plane;
        for (int32_t y = 0; y < height; y++)
            for (int32_t x = 0; x < width; x++) {
                int32_t sum = 0;
                for (int32_t k = -2; k <= 2; k++)
                    sum += pass ? in[std::clamp(y + k, 0, height - 1) * width + x] : in[y * width + std::clamp(x + k, 0, width - 1)];
                plane[y * width + x] = static_cast<uint8_t>(sum / 5);
            }
    }
    return plane;
}

}  // namespace

TestImage MakeImage(int32_t width, int32_t height, int32_t stride, uint8_t value)
{
    TestImage image;
    image.width = width;
    image.height = height;
    image.stride = stride > 0 ? stride : width * 4;
    image.pixels.assign(static_cast<size_t>(image.stride) * height, value);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) image.pixels[static_cast<size_t>(y) * image.stride + x * 4 + 3] = 255;
    return image;
}

TestImage MakeScene(int32_t width, int32_t height, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 1u;
    std::vector<uint8_t> coarse(static_cast<size_t>(width) * height), tint(coarse.size());
    for (auto& v : coarse) v = static_cast<uint8_t>(Next(state) >> 24);
    for (auto& v : tint) v = static_cast<uint8_t>(Next(state) >> 24);
    const std::vector<uint8_t> luma = Blur(coarse, width, height);
    const std::vector<uint8_t> colour = Blur(tint, width, height);
    TestImage scene = MakeImage(width, height);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            // Stretch the blurred noise back to a wide range of values.
            const int32_t l = std::clamp((luma[y * width + x] - 128) * 4 + 128, 0, 255);
            const int32_t c = (colour[y * width + x] - 128) / 2;
            uint8_t* p = scene.pixels.data() + static_cast<size_t>(y) * scene.stride + x * 4;
            p[0] = static_cast<uint8_t>(std::clamp(l + c, 0, 255));
            p[1] = static_cast<uint8_t>(l);
            p[2] = static_cast<uint8_t>(std::clamp(l - c, 0, 255));
        }
    return scene;
}

void CutFrame(const TestImage& scene, int32_t dx, int32_t dy, TestImage& frame)
{
    // Frame pixel (x, y) shows scene pixel (x - dx + ox, y - dy + oy).
    const int32_t ox = (scene.width - frame.width) / 2;
    const int32_t oy = (scene.height - frame.height) / 2;
    std::vector<uint8_t> grey(static_cast<size_t>(frame.width) * 4, 128);
    for (int32_t x = 0; x < frame.width; x++) grey[x * 4 + 3] = 255;
    const int32_t xBegin = std::clamp(dx - ox, 0, frame.width);
    const int32_t xEnd = std::clamp(scene.width + dx - ox, xBegin, frame.width);
    for (int32_t y = 0; y < frame.height; y++) {
        uint8_t* row = frame.pixels.data() + static_cast<size_t>(y) * frame.stride;
        const int32_t sy = y - dy + oy;
        if (sy < 0 || sy >= scene.height || xBegin == xEnd) {
            std::memcpy(row, grey.data(), grey.size());
            continue;
        }
        std::memcpy(row, grey.data(), static_cast<size_t>(xBegin) * 4);
        std::memcpy(row + xEnd * 4, grey.data(), static_cast<size_t>(frame.width - xEnd) * 4);
        const uint8_t* source = scene.pixels.data() + static_cast<size_t>(sy) * scene.stride + (xBegin - dx + ox) * 4;
        std::memcpy(row + xBegin * 4, source, static_cast<size_t>(xEnd - xBegin) * 4);
    }
}
