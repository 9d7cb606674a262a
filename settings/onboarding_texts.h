#pragma once
// The wizard's texts, German and English; picked for the interface language at the point of use.
#include <cstdint>

struct TextPair {
    const wchar_t* german;
    const wchar_t* english;
};

// Title of pages 1 ... 8 (page 0 has none: it shows the brand instead).
const wchar_t* OnboardingPageTitle(int32_t page);
// Body text of a page in the interface language; page 2 joins alignment and focus text.
const wchar_t* OnboardingPageText(int32_t page);

struct ShortcutRow {
    TextPair key;
    TextPair action;
};
constexpr int32_t ONBOARDING_SHORTCUT_COUNT = 8;
const ShortcutRow& OnboardingShortcut(int32_t row);

// Everything else the wizard writes, by use.
struct OnboardingTextSet {
    TextPair windowTitle, productName, letsGo, next, finish, back, chooseFolder, useSuggestion, suggestion;
    TextPair wideLabel, macroLabel, sameCamera, noSecondCamera, plugBoth, noSound, microphoneNote;
    TextPair shortcutsHeading, summaryFolder, summaryWide, summaryMacro, summaryMicrophone;
    TextPair saveFailed;
};
extern const OnboardingTextSet OnboardingTexts;

// The pair in the interface language.
const wchar_t* Pick(const TextPair& pair);
