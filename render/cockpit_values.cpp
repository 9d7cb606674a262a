#include "render/cockpit_values.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "app/texts.h"

namespace {
constexpr float MAX_STEP_SECONDS = 0.1f;
constexpr float MORPH_SECONDS = 0.2f;
constexpr float FLASH_FADE_RATE = 10.0f;
constexpr float FLASH_END = 0.02f;
constexpr int32_t METER_BARS = 8;
}  // namespace

float CockpitClockStep(uint64_t previousMs, uint64_t nowMs)
{
    if (previousMs == 0 || nowMs <= previousMs) return 0.0f;
    const uint64_t elapsed = nowMs - previousMs;
    return elapsed >= 100 ? MAX_STEP_SECONDS : static_cast<float>(elapsed) / 1000.0f;
}

float CockpitMorphStep(float morph, bool recording, float dt)
{
    const float step = dt / MORPH_SECONDS;
    return recording ? std::min(1.0f, morph + step) : std::max(0.0f, morph - step);
}

float CockpitFlashDecay(float flash, float dt)
{
    if (!(flash > 0.0f)) return 0.0f;
    const float faded = flash * std::exp(-FLASH_FADE_RATE * dt);
    return faded < FLASH_END ? 0.0f : faded;
}

int32_t CockpitLitBars(float level, bool muted)
{
    if (muted || !(level > 0.0f)) return 0;  // NaN lights nothing
    const float limited = std::min(level, 1.0f);
    return std::min(METER_BARS, static_cast<int32_t>(limited * METER_BARS + 0.5f));
}

CockpitRecordShape CockpitRecordShapeFor(float morph)
{
    const float m = std::clamp(morph, 0.0f, 1.0f);
    const float e = m * m * (3.0f - 2.0f * m);
    return {(44.0f - 18.0f * e) / 2.0f, 22.0f - 15.0f * e};
}

void CockpitSliderLabel(wchar_t* dest, size_t capacity, float pipSize)
{
    const float size = pipSize > 0.0f ? std::min(pipSize, 1.0f) : 0.0f;
    swprintf(dest, capacity, PickText(L"MACRO-GR\u00d6SSE %d %%", L"MACRO SIZE %d %%"),
             static_cast<int>(std::lroundf(size * 100.0f)));
}

void CockpitTimerText(wchar_t* dest, size_t capacity, uint32_t seconds)
{
    swprintf(dest, capacity, L"%02lu:%02lu", static_cast<unsigned long>(seconds / 60),
             static_cast<unsigned long>(seconds % 60));
}

int32_t CockpitShownRate(uint32_t count)
{
    return count > static_cast<uint32_t>(INT32_MAX) ? 0 : static_cast<int32_t>(count);
}

const wchar_t* CockpitResolutionLabel(bool high)
{
    return high ? L"2560 \u00d7 1440" : L"Full HD";
}
