#include "tests/support/d2d_canvas.h"

#include <cstring>
#include <cstdlib>

Picture Picture::FromBgra(const uint8_t* bgra, int32_t width, int32_t height, int32_t stride)
{
    Picture picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(&picture.pixels[static_cast<size_t>(y) * width], bgra + static_cast<size_t>(y) * stride,
                    static_cast<size_t>(width) * 4);
    return picture;
}

bool NearColor(uint32_t a, uint32_t b, uint32_t tolerance)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (static_cast<uint32_t>(std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF))) > tolerance) return false;
    return true;
}

uint32_t QuadrantColour(int32_t x, int32_t y, int32_t width, int32_t height)
{
    constexpr uint32_t colours[4] = {QUAD_TOP_LEFT, QUAD_TOP_RIGHT, QUAD_BOTTOM_LEFT, QUAD_BOTTOM_RIGHT};
    return colours[(x >= width / 2) + 2 * (y >= height / 2)];
}

D2DCanvas::D2DCanvas(int32_t width, int32_t height) : width_(width), height_(height)
{
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr,
                                 0, D3D11_SDK_VERSION, &device_, nullptr, nullptr)))
        return;
    ComOwner<IDXGIDevice> dxgi;
    ComOwner<ID2D1Factory1> factory;
    ComOwner<ID2D1DeviceContext> context;
    if (FAILED(device_->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi))) ||
        FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                                 reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateDevice(dxgi.Get(), &d2dDevice_)) ||
        FAILED(d2dDevice_->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &context)))
        return;
    D2D1_PIXEL_FORMAT format = D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED);
    D2D1_BITMAP_PROPERTIES1 target = D2D1::BitmapProperties1(D2D1_BITMAP_OPTIONS_TARGET, format, 96, 96);
    D2D1_BITMAP_PROPERTIES1 readback =
        D2D1::BitmapProperties1(D2D1_BITMAP_OPTIONS_CPU_READ | D2D1_BITMAP_OPTIONS_CANNOT_DRAW, format, 96, 96);
    D2D1_SIZE_U size = D2D1::SizeU(static_cast<UINT32>(width), static_cast<UINT32>(height));
    if (FAILED(context->CreateBitmap(size, nullptr, 0, &target, &target_)) ||
        FAILED(context->CreateBitmap(size, nullptr, 0, &readback, &readback_)))
        return;
    context->SetTarget(target_.Get());
    context_.Attach(context.Detach());
}

D2DCanvas::~D2DCanvas()
{
    if (context_) context_->SetTarget(nullptr);
}

Picture D2DCanvas::Read()
{
    Picture picture;
    if (!context_ || FAILED(readback_->CopyFromBitmap(nullptr, target_.Get(), nullptr))) return picture;
    D2D1_MAPPED_RECT mapped{};
    if (FAILED(readback_->Map(D2D1_MAP_OPTIONS_READ, &mapped))) return picture;
    picture = Picture::FromBgra(mapped.bits, width_, height_, static_cast<int32_t>(mapped.pitch));
    readback_->Unmap();
    return picture;
}
