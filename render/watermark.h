#pragma once
// The watermark that recordings and photos carry along their bottom edge, the brand mark
// (two rings with a gold dot) and the text routines they use.
#include <d2d1.h>
#include <dwrite.h>
#include <cstdint>

#include "render/watermark_layout.h"

// The brand text drawn beside the mark.
constexpr const wchar_t* BRAND_WEB_ADDRESS = L"mi-ru.example";

// A width x height overlay of premultiplied BGRA pixels, rows top-down and tightly packed
// (pitch width * 4), transparent except for the practice text (when given, not null and not
// empty) and the brand group. One malloc block that the caller releases with free(); null on
// failure (logged). Sizes 1 ... 16384.
uint8_t* WatermarkBuildOverlay(int32_t width, int32_t height, const wchar_t* practiceText);

// Brand mark in a box of nominal size `size` at (x, y): rings in the ring colour, gold dot.
// Nothing when target is null or size <= 0.
void DrawBrandMark(ID2D1RenderTarget* target, float x, float y, float size,
                   const D2D1_COLOR_F& ringColor);
// The two rings only, with the given brush.
void DrawBrandMarkRings(ID2D1RenderTarget* target, float x, float y, float size,
                        ID2D1Brush* brush);

// A one-line (no wrapping) layout of `text`; null on failure (logged). collection null: the
// system fonts. The caller releases the layout.
IDWriteTextLayout* MakeTextLayout(IDWriteFactory* factory, const wchar_t* text,
                                  const wchar_t* family, IDWriteFontCollection* collection,
                                  DWRITE_FONT_WEIGHT weight, float size, TextLineMetrics* metrics);

// Text with a dark rim: the layout drawn four times offset diagonally by d with `outline`,
// then once at (x, y) with `main`.
void DrawOutlinedText(ID2D1RenderTarget* target, IDWriteTextLayout* layout, float x, float y,
                      float d, ID2D1Brush* main, ID2D1Brush* outline);
