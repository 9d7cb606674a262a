#pragma once
// Process-wide graphics services of the UI thread: the shared Direct2D and DirectWrite
// factories and the brand font. Each is made on first use and lives until
// GraphicsServicesRelease (the renderer's shutdown).
#include <d2d1_1.h>
#include <dwrite.h>

// The shared factories, or null when they cannot be made (logged; the next call tries again).
// The caller does not release them.
ID2D1Factory1* GetD2DFactory();
IDWriteFactory* GetDWriteFactory();

// The brand font's family name: "Archivo Black" once the embedded font is registered (or its
// typographic family "Archivo" where DirectWrite groups fonts that way), else "Arial Black". The first call writes and registers the font file (once per process).
const wchar_t* BrandFontFamily();
// The collection that holds the brand font, or null for the system collection (pass it
// unchanged to CreateTextFormat).
IDWriteFontCollection* BrandFontCollection();

// Releases the brand font and both factories; the next use makes them again.
void GraphicsServicesRelease();

// The brand font file's name in the settings folder.
constexpr const wchar_t* BRAND_FONT_FILE_NAME = L"ArchivoBlack-Regular.ttf";
