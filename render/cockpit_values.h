#pragma once
// What the cockpit shows, as numbers and texts: its animation steps, the level meter, the
// record symbol and the texts it formats. Pure, so that the drawing stays a thin layer.
#include <cstddef>
#include <cstdint>

// Seconds between two draw times (milliseconds), 0 without a previous time and at most 0.1.
float CockpitClockStep(uint64_t previousMs, uint64_t nowMs);
// The record morph (0 disc ... 1 square) after dt seconds toward recording or not; a full
// change takes 0.2 s.
float CockpitMorphStep(float morph, bool recording, float dt);
// The photo flash after dt seconds: fades by exp(-10 dt) and ends below 0.02.
float CockpitFlashDecay(float flash, float dt);
// Lit bars of the eight-bar level meter for a microphone level (none while muted).
int32_t CockpitLitBars(float level, bool muted);

// The red record symbol for a morph: half its side and its corner radius, both in multiples
// of the scale (a disc of radius 22 at rest, a square of side 26 with corners of 7 at 1).
struct CockpitRecordShape {
    float half;
    float radius;
};
CockpitRecordShape CockpitRecordShapeFor(float morph);

// "MACRO-GRÖSSE 30 %" / "MACRO SIZE 30 %" for a Macro size 0 ... 1.
void CockpitSliderLabel(wchar_t* dest, size_t capacity, float pipSize);
// "mm:ss" of a recording's seconds; minutes go on past 59.
void CockpitTimerText(wchar_t* dest, size_t capacity, uint32_t seconds);
// A frame rate as shown: counts that do not fit a signed 32-bit value (the "no count yet"
// mark) show as 0.
int32_t CockpitShownRate(uint32_t count);
// The recording resolution as the top bar names it.
const wchar_t* CockpitResolutionLabel(bool high);
