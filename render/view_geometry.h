#pragma once
// Where the camera pictures go: cover cropping, the picture-in-picture boxes of the recorded
// composition and of the window, and the developer stabilisation frame. Pure functions of
// their inputs, shared by the compositor, the window renderer and the wizard's preview.
#include <cstdint>

// x, y, width, height in image pixels.
struct SourceRect {
    double x, y, width, height;
};

// left, top, right, bottom in target pixels.
struct ViewRect {
    float left, top, right, bottom;
};

// The part of a w x h image that fills a dw x dh destination without distortion ("cover"),
// narrowed by zoom (values below 1 count as 1) and moved by shiftX / shiftY (fractions of the
// image size). Not clamped to the image. The whole image when any size is not positive.
SourceRect CameraSourceRect(int32_t w, int32_t h, double dw, double dh, double zoom, double shiftX,
                            double shiftY);

// Below this fraction no Macro picture is drawn; from this one on it spans the full width.
constexpr float PIP_MIN_FRACTION = 0.005f;
constexpr float PIP_FULL_FRACTION = 0.9995f;

// The Macro box of a recorded frame or photo: width round(W * f), 16:9, centred, standing on
// the bottom edge, whole pixels. False when f draws no picture.
bool CompositionPipBox(float frameWidth, float frameHeight, float fraction, ViewRect* box);

// The window's video area: the whole client area, or between the cockpit's bars while they
// are shown (52 and 84 pixels at scale 1); height 0 when the window is too low.
ViewRect WindowVideoRect(float width, float height, bool cockpitVisible, float scale);

enum class WindowPip { None, Full, Partial };
// The Macro picture in the window's video area: nothing, the whole area, or a 16:9 box centred
// on the bottom edge whose height is limited to the area (not rounded).
WindowPip WindowPipRect(const ViewRect& video, float fraction, ViewRect* pip);
// Radius of the partial picture's two rounded top corners.
float WindowPipCornerRadius(const ViewRect& pip, float scale);

// The developer stabilisation frame: where the whole unsteadied Macro image lies relative to
// the steadied picture `pip` that shows the window (zoom, offsetX, offsetY) of it, with the
// picture turned by 180 degrees. zoom below 1 counts as 1.
ViewRect StabFrameRect(const ViewRect& pip, double offsetX, double offsetY, double zoom);

// A straight RGBA colour, components 0 ... 1.
struct RgbaColor {
    float r, g, b, a;
};

// The standard HSV to RGB conversion; h wraps into [0, 1), alpha is 1.
RgbaColor HsvToRgba(double h, double s, double v);
