#include "settings/stab_sliders.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

const StabSliderRow STAB_SLIDERS[STAB_SLIDER_COUNT] = {
    {L"St\u00e4rke", L"Strength", 0.0, 8.0, 0.1, L"%.1f", 0.5},
    {L"Gl\u00e4ttung", L"Smoothing", 0.7, 0.985, 0.005, L"%.3f", 0.85},
    {L"Crop", L"Crop", 1.0, 1.35, 0.01, L"%.2f", 1.15},
    {L"Vorhersage", L"Prediction", 0.0, 1.5, 0.05, L"%.2f", 0.0},
};

double* StabSliderField(SettingsRecord& settings, int32_t row)
{
    switch (row) {
    case 0: return &settings.stabGain;
    case 1: return &settings.stabSmoothing;
    case 2: return &settings.stabCropZoom;
    case 3: return &settings.stabLead;
    default: return nullptr;
    }
}

int32_t StabSliderSteps(const StabSliderRow& row)
{
    return static_cast<int32_t>(std::lround((row.maximum - row.minimum) / row.step));
}

int32_t StabSliderPage(const StabSliderRow& row)
{
    return std::max(StabSliderSteps(row) / 10, 1);
}

int32_t StabSliderPosition(const StabSliderRow& row, double value)
{
    if (!std::isfinite(value)) return 0;
    const double position = std::round((value - row.minimum) / row.step);
    return static_cast<int32_t>(std::clamp(position, 0.0, static_cast<double>(StabSliderSteps(row))));
}

double StabSliderValue(const StabSliderRow& row, int32_t position)
{
    return std::min(std::max(row.minimum + position * row.step, row.minimum), row.maximum);
}

void StabSliderFormat(const StabSliderRow& row, double value, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0) return;
    if (swprintf(out, capacity, row.format, value) < 0) out[0] = 0;
}
