#include "render/view_geometry.h"

#include <algorithm>
#include <cmath>

SourceRect CameraSourceRect(int32_t w, int32_t h, double dw, double dh, double zoom, double shiftX,
                            double shiftY)
{
    SourceRect result{0.0, 0.0, static_cast<double>(w), static_cast<double>(h)};
    if (w <= 0 || h <= 0 || !(dw > 0.0) || !(dh > 0.0)) return result;
    double z = std::max(zoom, 1.0);
    double visibleWidth = w / z;
    double visibleHeight = h / z;
    double scale = std::max(dh / visibleHeight, dw / visibleWidth);
    double sourceWidth = dw / scale;
    double sourceHeight = dh / scale;
    result.x = w * 0.5 + shiftX * w - 0.5 * sourceWidth;
    result.y = h * 0.5 + shiftY * h - 0.5 * sourceHeight;
    result.width = sourceWidth;
    result.height = sourceHeight;
    return result;
}

bool CompositionPipBox(float frameWidth, float frameHeight, float fraction, ViewRect* box)
{
    // Written as "not at least" so that a NaN fraction draws no picture.
    if (!(fraction >= PIP_MIN_FRACTION)) return false;
    float pw = fraction >= PIP_FULL_FRACTION ? std::round(frameWidth) : std::round(frameWidth * fraction);
    float ph = std::round(9.0f * pw * 0.0625f);
    float x = std::round(0.5f * (frameWidth - pw));
    *box = ViewRect{x, frameHeight - ph, x + pw, frameHeight};
    return true;
}

ViewRect WindowVideoRect(float width, float height, bool cockpitVisible, float scale)
{
    ViewRect video{0.0f, 0.0f, width, height};
    if (cockpitVisible) {
        video.top = 52.0f * scale;
        video.bottom = height - 84.0f * scale;
        if (video.top > video.bottom) video.bottom = video.top;
    }
    return video;
}

WindowPip WindowPipRect(const ViewRect& video, float fraction, ViewRect* pip)
{
    if (!(fraction >= PIP_MIN_FRACTION)) return WindowPip::None;
    if (fraction > 1.0f || fraction >= PIP_FULL_FRACTION) {
        *pip = video;
        return WindowPip::Full;
    }
    float videoWidth = video.right - video.left;
    float videoHeight = video.bottom - video.top;
    float pw = videoWidth * fraction;
    float ph = pw * 9.0f * 0.0625f;
    if (ph > videoHeight) {
        ph = videoHeight;
        pw = videoHeight * 16.0f / 9.0f;
    }
    float x = (videoWidth - pw) * 0.5f + video.left;
    *pip = ViewRect{x, video.bottom - ph, x + pw, video.bottom};
    return WindowPip::Partial;
}

float WindowPipCornerRadius(const ViewRect& pip, float scale)
{
    float pw = pip.right - pip.left;
    float ph = pip.bottom - pip.top;
    return std::min({pw * 0.5f, 8.0f * scale, ph});
}

ViewRect StabFrameRect(const ViewRect& pip, double offsetX, double offsetY, double zoom)
{
    // The picture shows a window of 1/z of the image whose centre lies offset * image size away
    // from the image's centre; turned by 180 degrees, the image's centre therefore appears at
    // the picture's centre plus the offset scaled by z picture sizes, on both axes.
    double z = std::max(1.0, zoom);
    double pw = static_cast<double>(pip.right) - pip.left;
    double ph = static_cast<double>(pip.bottom) - pip.top;
    double cx = 0.5 * (static_cast<double>(pip.left) + pip.right) + z * offsetX * pw;
    double cy = 0.5 * (static_cast<double>(pip.top) + pip.bottom) + z * offsetY * ph;
    double halfWidth = 0.5 * z * pw;
    double halfHeight = 0.5 * z * ph;
    return ViewRect{static_cast<float>(cx - halfWidth), static_cast<float>(cy - halfHeight),
                    static_cast<float>(cx + halfWidth), static_cast<float>(cy + halfHeight)};
}

RgbaColor HsvToRgba(double h, double s, double v)
{
    h = std::fmod(h, 1.0);
    if (h < 0.0) h += 1.0;
    double h6 = h * 6.0;
    double c = s * v;
    double x = c * (1.0 - std::fabs(std::fmod(h6, 2.0) - 1.0));
    double m = v - c;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h6) % 6) {
    case 0: r = c, g = x; break;
    case 1: r = x, g = c; break;
    case 2: g = c, b = x; break;
    case 3: g = x, b = c; break;
    case 4: r = x, b = c; break;
    default: r = c, b = x; break;
    }
    return RgbaColor{static_cast<float>(r + m), static_cast<float>(g + m), static_cast<float>(b + m), 1.0f};
}
