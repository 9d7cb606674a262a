#include "app/texts.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// -1 undecided, 1 German, 0 English. Racing threads compute the same value, so a race only
// repeats the query.
std::atomic<int32_t> languageCache{-1};

struct StatusText {
    const wchar_t* german;
    const wchar_t* english;
    bool isError;
};

constexpr StatusText statusTexts[] = {
    {L"Bereit", L"Ready", false},
    {L"Suche Kameras\u2026", L"Searching cameras\u2026", false},
    {L"Live", L"Live", false},
    {L"Keine Kameras", L"No cameras", false},
    {L"Kamera-Fehler", L"Camera error", true},
    {L"Kamera ohne Bild", L"Camera without image", true},
    {L"Neustart\u2026", L"Restarting\u2026", false},
    {L"Kamera getrennt", L"Camera disconnected", true},
    {L"Gestoppt", L"Stopped", false},
    {L"Aufnahme-Fehler", L"Recording error", true},
};
constexpr uint32_t statusCount = sizeof(statusTexts) / sizeof(statusTexts[0]);

uint16_t SystemUiLanguage()
{
#ifdef _WIN32
    return GetUserDefaultUILanguage();
#else
    return 0x0409;
#endif
}

}  // namespace

bool TextsIsGermanLanguageId(uint16_t langId)
{
    return (langId & 0x3FF) == 0x07;
}

bool IsGermanUi()
{
    int32_t cached = languageCache.load(std::memory_order_relaxed);
    if (cached < 0) {
        cached = TextsIsGermanLanguageId(SystemUiLanguage()) ? 1 : 0;
        languageCache.store(cached, std::memory_order_relaxed);
    }
    return cached == 1;
}

const wchar_t* PickText(const wchar_t* german, const wchar_t* english)
{
    return IsGermanUi() ? german : english;
}

const wchar_t* StatusLabel(uint32_t status)
{
    if (status >= statusCount) return L"";
    return PickText(statusTexts[status].german, statusTexts[status].english);
}

bool StatusIsError(uint32_t status)
{
    return status < statusCount && statusTexts[status].isError;
}

#ifdef MIRU_TEST_HOOKS
void TextsSetLanguageForTest(int32_t cache)
{
    languageCache.store(cache, std::memory_order_relaxed);
}
#endif
