#pragma once
// The longer texts of the settings window: the keyboard shortcut list and the help text.
#include <cstddef>
#include <cstdint>

struct ShortcutText {
    const wchar_t* keyGerman;
    const wchar_t* keyEnglish;
    const wchar_t* germanDescription;
    const wchar_t* englishDescription;
};

constexpr int32_t SHORTCUT_TEXT_COUNT = 10;
extern const ShortcutText SHORTCUT_TEXTS[SHORTCUT_TEXT_COUNT];

constexpr size_t HELP_TEXT_CAPACITY = 8192;

// The seven help topics, each "• title" CRLF body, separated by an empty line; cut at
// capacity - 1. `german` picks the language.
void SettingsHelpText(bool german, wchar_t* out, size_t capacity);
