#include "render/watermark_layout.h"

WatermarkSizes WatermarkSizesFor(float frameHeight)
{
    WatermarkSizes sizes{};
    sizes.brandSize = 0.026f * frameHeight;
    sizes.margin = 0.035f * frameHeight;
    sizes.practiceFontSize = 0.024f * frameHeight;
    sizes.practiceOutline = 0.06f * sizes.practiceFontSize;
    sizes.markSize = 1.15f * sizes.brandSize;
    sizes.markWidth = 180.0f * sizes.markSize / 160.0f;
    sizes.gap = 0.45f * sizes.brandSize;
    sizes.brandOutline = 0.06f * sizes.brandSize;
    return sizes;
}

WatermarkPlacement WatermarkPlace(const WatermarkSizes& sizes, float frameWidth, float frameHeight,
                                  const TextLineMetrics& practice, const TextLineMetrics& brand)
{
    WatermarkPlacement place{};
    place.practiceX = sizes.margin;
    place.practiceY = frameHeight - sizes.margin - practice.descent - practice.ascent;
    place.markX = frameWidth - sizes.margin - (brand.width + sizes.markWidth + sizes.gap);
    float baselineY = frameHeight - sizes.margin - brand.descent;
    place.markY = baselineY - 0.5f * (brand.ascent - brand.descent) - 0.5f * sizes.markSize;
    place.brandX = place.markX + sizes.markWidth + sizes.gap;
    place.brandY = baselineY - brand.ascent;
    return place;
}
