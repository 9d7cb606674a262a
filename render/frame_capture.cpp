#include "render/frame_capture.h"

#ifdef MIRU_DEV_CAPTURE

#include <windows.h>
#include <wincodec.h>

#include "base/win_owners.h"
#include "diag/log.h"

namespace {

constexpr int32_t FRAMES_WITH_CAMERAS = 10;
constexpr int32_t FRAMES_AT_MOST = 100;

// UI thread only, like the renderer.
struct CaptureState {
    bool checked;
    bool pending;
    int32_t frames;
    int32_t framesWithCameras;
    wchar_t path[MAX_PATH];
};
CaptureState capture{};

bool WritePng(const wchar_t* path, const uint8_t* pixels, int32_t width, int32_t height)
{
    ComOwner<IWICImagingFactory> wic;
    ComOwner<IWICStream> stream;
    ComOwner<IWICBitmapEncoder> encoder;
    ComOwner<IWICBitmapFrameEncode> frame;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  reinterpret_cast<void**>(&wic));
    if (SUCCEEDED(hr)) hr = wic->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path, GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;  // the picture is opaque
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat32bppBGRA) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    UINT stride = static_cast<UINT>(width) * 4;
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height),
                                const_cast<BYTE*>(pixels));
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    if (FAILED(hr)) LogWrite(LOG_WARN, L"Renderer: Bildschirmfoto nicht gespeichert (0x%08lX)", LogHresult(hr));
    return SUCCEEDED(hr);
}

}  // namespace

bool FrameCaptureDue(bool bothCameras)
{
    if (!capture.checked) {
        capture.checked = true;
        DWORD length = GetEnvironmentVariableW(L"MIRU_CAPTURE_FRAME", capture.path, MAX_PATH);
        capture.pending = length > 0 && length < MAX_PATH;
    }
    if (!capture.pending) return false;
    ++capture.frames;
    if (bothCameras) ++capture.framesWithCameras;
    if (capture.framesWithCameras < FRAMES_WITH_CAMERAS && capture.frames < FRAMES_AT_MOST) return false;
    capture.pending = false;
    return true;
}

void FrameCaptureSave(const uint8_t* pixels, int32_t width, int32_t height)
{
    if (pixels && width > 0 && height > 0 && WritePng(capture.path, pixels, width, height))
        LogWrite(LOG_INFO, L"Renderer: Bildschirmfoto gespeichert (%dx%d)", width, height);
}

#else

bool FrameCaptureDue(bool)
{
    return false;
}

void FrameCaptureSave(const uint8_t*, int32_t, int32_t) {}

#endif
