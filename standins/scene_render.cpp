#include "standins/scene_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int64_t TICKS_PER_SECOND = 10'000'000;

// Seconds for the Wide landscape to scroll by its own width.
constexpr int64_t WIDE_SCROLL_SECONDS = 12;

uint32_t Hash32(uint64_t value)
{
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>(value ^ (value >> 31));
}

double Unit(uint64_t value)
{
    return Hash32(value) * (1.0 / 4294967296.0);
}

uint32_t Bgrx(int blue, int green, int red)
{
    auto clamp = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
    return clamp(blue) | clamp(green) << 8 | clamp(red) << 16;
}

// Digits 0-9, ':' and '.' as 5 × 7 bitmaps, bit 4 the leftmost column.
constexpr uint8_t GLYPHS[12][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C},
};
constexpr int GLYPH_COLON = 10;
constexpr int GLYPH_DOT = 11;

// Destination of one frame: `rows` rows of `width` pixels, row i at row0 + i × pitch.
struct Target {
    uint8_t* row0;
    ptrdiff_t pitch;
    int32_t width;
    int32_t rows;
};

uint32_t* TargetRow(const Target& target, int32_t y)
{
    return reinterpret_cast<uint32_t*>(target.row0 + y * target.pitch);
}

void FillRect(const Target& target, int32_t left, int32_t top, int32_t right, int32_t bottom,
              uint32_t color)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, target.width);
    bottom = std::min(bottom, target.rows);
    for (int32_t y = top; y < bottom; ++y) std::fill(TargetRow(target, y) + left, TargetRow(target, y) + right, color);
}

void DrawClock(const Target& target, int32_t height, int64_t time100ns)
{
    int64_t centis = time100ns / 100'000;
    int64_t seconds = centis / 100;
    int glyphs[11] = {
        static_cast<int>(seconds / 36000 % 10), static_cast<int>(seconds / 3600 % 10), GLYPH_COLON,
        static_cast<int>(seconds / 600 % 6),    static_cast<int>(seconds / 60 % 10),   GLYPH_COLON,
        static_cast<int>(seconds / 10 % 6),     static_cast<int>(seconds % 10),        GLYPH_DOT,
        static_cast<int>(centis / 10 % 10),     static_cast<int>(centis % 10),
    };
    int32_t scale = std::max(1, height / 135);
    int32_t left = 4 * scale;
    int32_t top = 4 * scale;
    int32_t count = static_cast<int32_t>(std::size(glyphs));
    FillRect(target, left - 2 * scale, top - 2 * scale, left + count * 6 * scale + scale,
             top + 9 * scale, Bgrx(32, 32, 32));
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* glyph = GLYPHS[glyphs[i]];
        for (int32_t gy = 0; gy < 7; ++gy) {
            for (int32_t gx = 0; gx < 5; ++gx) {
                if (!(glyph[gy] & (0x10 >> gx))) continue;
                int32_t x = left + (i * 6 + gx) * scale;
                int32_t y = top + gy * scale;
                FillRect(target, x, y, x + scale, y + scale, Bgrx(255, 255, 255));
            }
        }
    }
}

void DrawBall(const Target& target, int32_t width, int32_t height, double seconds)
{
    int32_t radius = std::max(2, height / 24);
    int32_t cx = static_cast<int32_t>(width * (0.5 + 0.35 * std::sin(2 * PI * 0.23 * seconds)));
    int32_t cy = static_cast<int32_t>(height * (0.62 + 0.18 * std::sin(2 * PI * 0.37 * seconds)));
    uint32_t color = Bgrx(40, 140, 250);
    for (int32_t y = std::max(cy - radius, 0); y <= std::min(cy + radius, target.rows - 1); ++y) {
        int32_t dy = y - cy;
        int32_t half = static_cast<int32_t>(std::sqrt(static_cast<double>(radius * radius - dy * dy)));
        FillRect(target, cx - half, y, cx + half + 1, y + 1, color);
    }
}

// A landscape that repeats after exactly `width` columns, so that scrolling can wrap.
void PrepareWide(SceneCanvas& canvas)
{
    int32_t w = canvas.width;
    int32_t h = canvas.height;
    int32_t horizon = h * 55 / 100;
    std::vector<int32_t> hillTop(static_cast<size_t>(w));
    for (int32_t x = 0; x < w; ++x) {
        double phase = 2 * PI * x / w;
        double rise = 0.5 + 0.3 * std::sin(3 * phase) + 0.2 * std::sin(7 * phase + 1.3);
        hillTop[static_cast<size_t>(x)] = horizon - static_cast<int32_t>(rise * h * 0.14);
    }
    int32_t postWidth = std::max(1, w / 60);
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = canvas.texture.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int32_t x = 0; x < w; ++x) {
            uint32_t color;
            if (y >= horizon) {
                int32_t tileX = static_cast<int32_t>(static_cast<int64_t>(x) * 24 / w);
                int32_t tileY = (y - horizon) * 16 / std::max(1, h - horizon);
                color = ((tileX + tileY) & 1) ? Bgrx(70, 120, 90) : Bgrx(95, 150, 115);
            } else if (y >= hillTop[static_cast<size_t>(x)]) {
                color = Bgrx(80, 110, 70 + 40 * (horizon - y) / std::max(1, horizon));
            } else {
                int32_t shade = 60 * y / std::max(1, horizon);
                color = Bgrx(235 + shade / 4, 180 + shade, 120 + shade);
            }
            int32_t post = x % std::max(1, w / 6);
            if (post < postWidth && y > horizon - h / 5 && y < horizon + h / 20) {
                int32_t index = x / std::max(1, w / 6);
                constexpr uint32_t POSTS[] = {0x00C03030, 0x0030A0E0, 0x00E0E0E0,
                                              0x00A050C0, 0x0040C0C0, 0x00303080};
                color = POSTS[index % 6];
            }
            row[x] = color;
        }
    }
}

// Fine grain (one value per pixel) over two smooth layers, with scattered dark pores: enough
// detail at every scale for the stabiliser's correlation to lock on.
void PrepareMacro(SceneCanvas& canvas)
{
    int32_t w = canvas.textureWidth;
    int32_t h = canvas.textureHeight;
    auto lattice = [](int32_t cell, int32_t w, int32_t h, uint64_t seed) {
        int32_t cols = w / cell + 2;
        int32_t rows = h / cell + 2;
        std::vector<float> grid(static_cast<size_t>(cols) * static_cast<size_t>(rows));
        for (size_t i = 0; i < grid.size(); ++i) grid[i] = static_cast<float>(Unit(seed * 1000003 + i));
        return std::pair{grid, cols};
    };
    auto [fine, fineCols] = lattice(16, w, h, 1);
    auto [coarse, coarseCols] = lattice(64, w, h, 2);
    auto sample = [](const std::vector<float>& grid, int32_t cols, int32_t cell, int32_t x, int32_t y) {
        int32_t gx = x / cell;
        int32_t gy = y / cell;
        float fx = static_cast<float>(x % cell) / cell;
        float fy = static_cast<float>(y % cell) / cell;
        const float* top = grid.data() + static_cast<size_t>(gy) * cols + gx;
        const float* bottom = top + cols;
        float upper = top[0] + (top[1] - top[0]) * fx;
        float lower = bottom[0] + (bottom[1] - bottom[0]) * fx;
        return upper + (lower - upper) * fy;
    };
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = canvas.texture.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int32_t x = 0; x < w; ++x) {
            double grain = Unit(static_cast<uint64_t>(y) << 32 | static_cast<uint32_t>(x));
            double v = 0.45 * grain + 0.35 * sample(fine, fineCols, 16, x, y) +
                       0.20 * sample(coarse, coarseCols, 64, x, y);
            if (grain > 0.985) v *= 0.35;
            int level = static_cast<int>(v * 255);
            row[x] = Bgrx(70 + level * 3 / 10, 80 + level * 4 / 10, 150 + level * 4 / 10);
        }
    }
}

void DrawPattern(const Target& target, int64_t frameIndex)
{
    for (int32_t y = 0; y < target.rows; ++y) {
        uint32_t* row = TargetRow(target, y);
        for (int32_t x = 0; x < target.width; ++x) row[x] = ScenePatternPixel(x, y, frameIndex);
    }
}

}  // namespace

bool ScenePrepare(SceneCanvas& canvas, SceneKind kind, int32_t width, int32_t height)
{
    canvas.kind = kind;
    canvas.width = std::max(width, 1);
    canvas.height = std::max(height, 1);
    canvas.textureWidth = 0;
    canvas.textureHeight = 0;
    canvas.texture.clear();
    if (kind == SceneKind::Wide) {
        canvas.textureWidth = canvas.width;
        canvas.textureHeight = canvas.height;
    } else if (kind == SceneKind::Macro) {
        canvas.textureWidth = canvas.width + 2 * SCENE_TREMOR_MARGIN;
        canvas.textureHeight = canvas.height + 2 * SCENE_TREMOR_MARGIN;
    } else {
        canvas.kind = SceneKind::Pattern;  // audio kinds have no picture
        return true;
    }
    try {
        canvas.texture.assign(static_cast<size_t>(canvas.textureWidth) * static_cast<size_t>(canvas.textureHeight), 0);
    } catch (const std::bad_alloc&) {
        canvas.kind = SceneKind::Pattern;
        return false;
    }
    if (kind == SceneKind::Wide) PrepareWide(canvas);
    else PrepareMacro(canvas);
    return true;
}

void SceneDrawFrame(const SceneCanvas& canvas, int64_t frameIndex, int64_t time100ns, uint8_t* row0,
                    ptrdiff_t pitch, int32_t rows)
{
    Target target{row0, pitch, canvas.width, std::min(rows, canvas.height)};
    size_t rowBytes = static_cast<size_t>(canvas.width) * 4;
    if (canvas.kind == SceneKind::Wide) {
        int32_t shift = static_cast<int32_t>(time100ns * canvas.width / (WIDE_SCROLL_SECONDS * TICKS_PER_SECOND) % canvas.width);
        size_t head = static_cast<size_t>(canvas.width - shift) * 4;
        for (int32_t y = 0; y < target.rows; ++y) {
            const uint32_t* source = canvas.texture.data() + static_cast<size_t>(y) * static_cast<size_t>(canvas.width);
            uint8_t* dest = reinterpret_cast<uint8_t*>(TargetRow(target, y));
            std::memcpy(dest, source + shift, head);
            std::memcpy(dest + head, source, rowBytes - head);
        }
        DrawBall(target, canvas.width, canvas.height, static_cast<double>(time100ns) / TICKS_PER_SECOND);
        DrawClock(target, canvas.height, time100ns);
    } else if (canvas.kind == SceneKind::Macro) {
        int32_t dx = 0;
        int32_t dy = 0;
        SceneTremor(time100ns, &dx, &dy);
        for (int32_t y = 0; y < target.rows; ++y) {
            const uint32_t* source = canvas.texture.data() +
                                     static_cast<size_t>(y + SCENE_TREMOR_MARGIN + dy) * static_cast<size_t>(canvas.textureWidth) +
                                     (SCENE_TREMOR_MARGIN + dx);
            std::memcpy(TargetRow(target, y), source, rowBytes);
        }
    } else {
        DrawPattern(target, frameIndex);
    }
}

uint32_t ScenePatternPixel(int32_t x, int32_t y, int64_t frameIndex)
{
    uint32_t blue = static_cast<uint32_t>(x) & 0xFF;
    uint32_t green = static_cast<uint32_t>(y) & 0xFF;
    uint32_t red = static_cast<uint32_t>(frameIndex + (x >> 8) + (y >> 8) * 8) & 0xFF;
    uint32_t alpha = static_cast<uint32_t>(x * 3 + y * 5) & 0xFF;
    return blue | green << 8 | red << 16 | alpha << 24;
}

void SceneTremor(int64_t time100ns, int32_t* dx, int32_t* dy)
{
    double t = static_cast<double>(time100ns) / TICKS_PER_SECOND;
    double x = 3.2 * std::sin(2 * PI * 8.0 * t) + 1.2 * std::sin(2 * PI * 2.3 * t + 0.7);
    double y = 2.6 * std::sin(2 * PI * 8.0 * t + 1.1) + 1.0 * std::sin(2 * PI * 1.7 * t + 2.0);
    constexpr int32_t LIMIT = SCENE_TREMOR_MARGIN - 1;
    *dx = std::clamp(static_cast<int32_t>(std::lround(x)), -LIMIT, LIMIT);
    *dy = std::clamp(static_cast<int32_t>(std::lround(y)), -LIMIT, LIMIT);
}

float SceneAudioValue(SceneKind kind, uint64_t frame, uint32_t channel, uint32_t sampleRate)
{
    if (sampleRate == 0) return 0.0f;
    if (kind == SceneKind::SquareWave) {
        uint64_t period = std::max<uint64_t>(2, sampleRate / 1000);
        return frame % period < period / 2 ? 1.0f : -1.0f;
    }
    if (kind != SceneKind::Tone) return 0.0f;
    double phase = 2 * PI * 440.0 * static_cast<double>(frame % sampleRate) / sampleRate + channel * 0.3;
    double noise = Unit(frame * 2 + channel) * 2 - 1;
    return static_cast<float>(0.02 * std::sin(phase) + 0.004 * noise);
}

void SceneFillFloat(SceneKind kind, uint64_t firstFrame, uint32_t sampleRate, uint32_t channels,
                    std::span<float> out)
{
    if (channels == 0) return;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = SceneAudioValue(kind, firstFrame + i / channels, static_cast<uint32_t>(i % channels), sampleRate);
}

SceneRect SceneFlashRect(int32_t width, int32_t height)
{
    return {width * 2 / 5, height * 7 / 10, width * 3 / 5, height * 9 / 10};
}

bool SceneFlashAt(int64_t sharedTime)
{
    int64_t phase = sharedTime % SCENE_MARK_PERIOD;
    if (phase < 0) phase += SCENE_MARK_PERIOD;
    return phase < SCENE_FLASH_LENGTH;
}

void SceneDrawFlash(const SceneCanvas& canvas, uint8_t* row0, ptrdiff_t pitch, int32_t rows)
{
    Target target{row0, pitch, canvas.width, std::min(rows, canvas.height)};
    SceneRect r = SceneFlashRect(canvas.width, canvas.height);
    FillRect(target, r.left, r.top, r.right, r.bottom, Bgrx(255, 255, 255));
}

namespace {

// The click's value at shared frame `frame`, or 0 outside a click: a 1 kHz square wave.
float ClickValue(int64_t frame, uint32_t sampleRate)
{
    int64_t period = static_cast<int64_t>(SCENE_MARK_PERIOD / 1000) * sampleRate / 10'000;  // frames between marks
    int64_t phase = frame % period;
    if (phase < 0) phase += period;
    int64_t length = static_cast<int64_t>(sampleRate) * SCENE_CLICK_MS / 1000;
    if (phase >= length) return 0.0f;
    int64_t half = std::max<int64_t>(1, sampleRate / 2000);
    return (phase / half) % 2 == 0 ? 0.9f : -0.9f;
}

}  // namespace

void SceneAddClicks(SceneKind kind, int64_t sharedFirstFrame, uint32_t sampleRate, uint32_t channels,
                    std::span<float> samples)
{
    if (kind != SceneKind::Tone || channels == 0 || sampleRate == 0) return;
    for (size_t i = 0; i < samples.size(); ++i) {
        float v = ClickValue(sharedFirstFrame + static_cast<int64_t>(i / channels), sampleRate);
        if (v != 0.0f) samples[i] = v;
    }
}
