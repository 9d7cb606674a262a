#pragma once
// German/English user texts and the application status numbers.
// The language is decided once per process from the user's default UI language.
#include <cstdint>

// The German text when the interface language is German, otherwise the English one.
// The pointers are returned as given; nothing is copied.
const wchar_t* PickText(const wchar_t* german, const wchar_t* english);
bool IsGermanUi();

// Application status numbers reported by the camera control and the main window.
enum : uint32_t {
    STATUS_READY = 0,
    STATUS_SEARCHING = 1,
    STATUS_LIVE = 2,
    STATUS_NO_CAMERAS = 3,
    STATUS_CAMERA_ERROR = 4,
    STATUS_NO_IMAGE = 5,
    STATUS_RESTARTING = 6,
    STATUS_DISCONNECTED = 7,
    STATUS_STOPPED = 8,
    STATUS_RECORDING_ERROR = 9,
};

// Label of a status in the UI language; the empty text for 10 and more.
const wchar_t* StatusLabel(uint32_t status);
// True exactly for the error states 4, 5, 7 and 9.
bool StatusIsError(uint32_t status);

// Pure language rule: German for every LANGID whose primary language is German.
bool TextsIsGermanLanguageId(uint16_t langId);

#ifdef MIRU_TEST_HOOKS
// Tests only: -1 lets the next call ask the system again, 0 forces English, 1 German.
void TextsSetLanguageForTest(int32_t cache);
#endif
