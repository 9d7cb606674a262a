#pragma once
// Where the watermark's practice text and brand group go in a W x H frame, from the measured
// text lines. Pure arithmetic; the drawing is in render/watermark.cpp.
#include <cstdint>

// Measures of a one-line layout in pixels (96 DPI).
struct TextLineMetrics {
    float width;    // text width without trailing whitespace
    float ascent;   // top of the first line to its baseline
    float descent;  // first line's height below the baseline
};

struct WatermarkSizes {
    float brandSize;         // brand text size
    float margin;            // from the left, right and bottom edges
    float practiceFontSize;
    float practiceOutline;   // rim distance of the practice text
    float markSize;          // nominal brand mark box
    float markWidth;         // width reserved for the mark
    float gap;               // between mark and brand text
    float brandOutline;      // rim distance of the brand group
};

WatermarkSizes WatermarkSizesFor(float frameHeight);

struct WatermarkPlacement {
    float practiceX, practiceY;  // top-left of the practice text's layout box
    float markX, markY;          // brand mark box
    float brandX, brandY;        // top-left of the brand text's layout box
};

// The practice text stands on the bottom margin at the left; the brand group (mark, gap, text)
// ends at the right margin on the same line, the mark centred on the brand text's line box.
WatermarkPlacement WatermarkPlace(const WatermarkSizes& sizes, float frameWidth, float frameHeight,
                                  const TextLineMetrics& practice, const TextLineMetrics& brand);
