#include "render/graphics_services.h"

#include <windows.h>
#include <dwrite_3.h>

#include <atomic>
#include <cstdio>

#include "base/win_owners.h"
#include "diag/log.h"
#include "res/resource_ids.h"
#include "settings/settings_store.h"

namespace {

constexpr const wchar_t* FALLBACK_FAMILY = L"Arial Black";
constexpr const wchar_t* BRAND_FAMILY = L"Archivo Black";
constexpr const wchar_t* BRAND_TYPOGRAPHIC_FAMILY = L"Archivo";

// factoryLock: held exclusively only while a factory is made or released.
SRWLOCK factoryLock = SRWLOCK_INIT;
ID2D1Factory1* d2dFactory = nullptr;
IDWriteFactory* dwriteFactory = nullptr;

// brandLock: held exclusively while the brand font is registered or released; brandReady is
// read without it first and re-checked under it.
SRWLOCK brandLock = SRWLOCK_INIT;
IDWriteFontCollection* brandCollection = nullptr;
const wchar_t* brandFamily = FALLBACK_FAMILY;
std::atomic<int32_t> brandReady{0};

struct SrwExclusive {
    SRWLOCK* lock;
    explicit SrwExclusive(SRWLOCK* held) : lock(held) { AcquireSRWLockExclusive(lock); }
    ~SrwExclusive() { ReleaseSRWLockExclusive(lock); }
    SrwExclusive(const SrwExclusive&) = delete;
    SrwExclusive& operator=(const SrwExclusive&) = delete;
};

void LogFallback()
{
    LogWrite(LOG_WARN, L"Markenschrift nicht verf\u00fcgbar \u2014 Arial Black wird verwendet");
}

void LogWriteFailure(const wchar_t* path, DWORD error)
{
    LogWrite(LOG_WARN, L"Markenschrift: %ls konnte nicht geschrieben werden (Fehler %lu)", path,
             static_cast<unsigned long>(error));
}

// Writes the whole font; a short or failed write removes the file so that no broken font is
// left behind. Reports the error for the warning.
bool WriteFontFile(const wchar_t* path, const void* bytes, DWORD size, DWORD* error)
{
    HandleOwner file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        *error = GetLastError();
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file.handle, bytes, size, &written, nullptr);
    *error = ok ? ERROR_WRITE_FAULT : GetLastError();
    if (ok && written == size) return true;
    CloseHandle(file.handle);
    file.handle = nullptr;
    DeleteFileW(path);
    return false;
}

// Registers the font file with DirectWrite; on success keeps the collection and the name.
void RegisterFontFile(const wchar_t* path)
{
    IDWriteFactory* factory = GetDWriteFactory();
    if (!factory) return;
    ComOwner<IDWriteFactory5> factory5;
    ComOwner<IDWriteFontFile> file;
    ComOwner<IDWriteFontSetBuilder1> builder;
    ComOwner<IDWriteFontSet> set;
    ComOwner<IDWriteFontCollection1> collection;
    HRESULT hr = factory->QueryInterface(__uuidof(IDWriteFactory5), reinterpret_cast<void**>(&factory5));
    if (SUCCEEDED(hr)) hr = factory5->CreateFontFileReference(path, nullptr, &file);
    if (SUCCEEDED(hr)) hr = factory5->CreateFontSetBuilder(&builder);
    if (SUCCEEDED(hr)) hr = builder->AddFontFile(file.Get());
    if (SUCCEEDED(hr)) hr = builder->CreateFontSet(&set);
    if (SUCCEEDED(hr)) hr = factory5->CreateFontCollectionFromFontSet(set.Get(), &collection);
    if (SUCCEEDED(hr) && !collection) hr = E_FAIL;
    // The collection must hold the font by one of its names: some DirectWrite versions group it
    // under its typographic family ("Archivo") rather than "Archivo Black". A file that is no
    // font can still give a collection without it.
    const wchar_t* family = nullptr;
    if (SUCCEEDED(hr)) {
        for (const wchar_t* name : {BRAND_FAMILY, BRAND_TYPOGRAPHIC_FAMILY}) {
            UINT32 index = 0;
            BOOL found = FALSE;
            if (SUCCEEDED(collection->FindFamilyName(name, &index, &found)) && found) {
                family = name;
                break;
            }
        }
        if (!family) hr = DWRITE_E_FILEFORMAT;
    }
    if (FAILED(hr)) {
        LogWrite(LOG_WARN, L"Markenschrift konnte nicht registriert werden (0x%08lX) \u2014 Arial Black wird verwendet",
                 LogHresult(hr));
        return;
    }
    brandCollection = collection.Detach();
    brandFamily = family;
    LogWrite(LOG_INFO, L"Markenschrift Archivo Black registriert");
}

void RegisterBrandFont()
{
    wchar_t folder[SETTINGS_FOLDER_CAPACITY];
    SettingsFolder(folder);
    wchar_t path[MAX_PATH];
    int length = folder[0] ? swprintf(path, MAX_PATH, L"%ls\\%ls", folder, BRAND_FONT_FILE_NAME) : -1;
    if (length < 0 || length >= MAX_PATH) {
        // No folder, or the joined path does not fit: a cut name would be another file.
        LogFallback();
        return;
    }

    const void* bytes = nullptr;
    DWORD size = 0;
    HMODULE module = GetModuleHandleW(nullptr);
    if (HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(IDR_FONT_ARCHIVO), MAKEINTRESOURCEW(10))) {
        HGLOBAL loaded = LoadResource(module, info);
        size = SizeofResource(module, info);
        if (loaded && size) bytes = LockResource(loaded);
    }

    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    bool fileExists = GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) &&
                      attributes.nFileSizeHigh == 0 && attributes.nFileSizeLow != 0;

    if (bytes) {
        if (!fileExists) {
            DWORD error = 0;
            if (!WriteFontFile(path, bytes, size, &error)) {
                LogWriteFailure(path, error);
                LogFallback();
                return;
            }
        } else if (attributes.nFileSizeLow != size) {
            DWORD error = 0;
            // On failure the old file (or none) is tried; its registration logs the fallback.
            if (!WriteFontFile(path, bytes, size, &error)) LogWriteFailure(path, error);
        }
    } else {
        LogWrite(LOG_WARN, L"Markenschrift: Ressource IDR_FONT_ARCHIVO nicht gefunden");
        if (!fileExists) {
            LogFallback();
            return;
        }
    }
    RegisterFontFile(path);
}

void EnsureBrandFont()
{
    if (brandReady.load()) return;
    SrwExclusive hold(&brandLock);
    if (brandReady.load()) return;
    RegisterBrandFont();
    brandReady.exchange(1);
}

}  // namespace

ID2D1Factory1* GetD2DFactory()
{
    SrwExclusive hold(&factoryLock);
    if (!d2dFactory) {
        HRESULT hr = D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                                       reinterpret_cast<void**>(&d2dFactory));
        if (FAILED(hr) || !d2dFactory) {
            d2dFactory = nullptr;
            LogWrite(LOG_ERROR, L"Direct2D-Factory konnte nicht erstellt werden (0x%08lX)",
                     LogHresult(FAILED(hr) ? hr : E_POINTER));
        }
    }
    return d2dFactory;
}

IDWriteFactory* GetDWriteFactory()
{
    SrwExclusive hold(&factoryLock);
    if (!dwriteFactory) {
        HRESULT hr = DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                         reinterpret_cast<IUnknown**>(&dwriteFactory));
        if (FAILED(hr) || !dwriteFactory) {
            dwriteFactory = nullptr;
            LogWrite(LOG_ERROR, L"DirectWrite-Factory konnte nicht erstellt werden (0x%08lX)",
                     LogHresult(FAILED(hr) ? hr : E_POINTER));
        }
    }
    return dwriteFactory;
}

const wchar_t* BrandFontFamily()
{
    EnsureBrandFont();
    SrwExclusive hold(&brandLock);
    return brandFamily;
}

IDWriteFontCollection* BrandFontCollection()
{
    EnsureBrandFont();
    SrwExclusive hold(&brandLock);
    return brandCollection;
}

void GraphicsServicesRelease()
{
    {
        SrwExclusive hold(&brandLock);
        if (brandCollection) brandCollection->Release();
        brandCollection = nullptr;
        brandFamily = FALLBACK_FAMILY;
        brandReady.exchange(0);
    }
    SrwExclusive hold(&factoryLock);
    if (dwriteFactory) dwriteFactory->Release();
    dwriteFactory = nullptr;
    if (d2dFactory) d2dFactory->Release();
    d2dFactory = nullptr;
}
