#pragma once
// The four stabilisation sliders of the settings window: which field each moves, its range,
// step and value text, and the conversions between slider positions and values.
#include <cstddef>
#include <cstdint>

#include "settings/settings_record.h"

struct StabSliderRow {
    const wchar_t* german;
    const wchar_t* english;
    double minimum;
    double maximum;
    double step;
    const wchar_t* format;  // printf format of the value text
    double defaultValue;    // what "reset" restores
};

constexpr int32_t STAB_SLIDER_COUNT = 4;
extern const StabSliderRow STAB_SLIDERS[STAB_SLIDER_COUNT];

// The settings field a row moves (null for a row outside 0..3).
double* StabSliderField(SettingsRecord& settings, int32_t row);
// Positions run 0..steps; a page is a tenth of that, at least 1.
int32_t StabSliderSteps(const StabSliderRow& row);
int32_t StabSliderPage(const StabSliderRow& row);
// The nearest position of `value`, clamped to the range (a value that is not a number: 0).
int32_t StabSliderPosition(const StabSliderRow& row, double value);
// The value of a position, kept inside minimum..maximum.
double StabSliderValue(const StabSliderRow& row, int32_t position);
// The value as the slider shows it ("0.5", "0.850"); `out` holds `capacity` characters.
void StabSliderFormat(const StabSliderRow& row, double value, wchar_t* out, size_t capacity);
