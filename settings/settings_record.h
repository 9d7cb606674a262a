#pragma once
// The process-wide settings record. Fields are named by their INI keys and kept in key order.
// Writers (UI thread only) change a field and call SettingsSave; readers on worker threads
// read fields without a lock and copy texts they need for longer.
#include <cstdint>

constexpr int SETTINGS_PRAXIS_CAPACITY = 256;
constexpr int SETTINGS_FOLDER_CAPACITY = 260;
constexpr int SETTINGS_DEVICE_ID_CAPACITY = 512;

struct SettingsRecord {
    bool resolutionHigh;
    bool watermarkOn;
    wchar_t praxisText[SETTINGS_PRAXIS_CAPACITY];
    bool stabilizeMacro;
    double stabGain;
    double stabSmoothing;
    double stabCropZoom;
    double stabLead;
    bool devShowFPS;
    bool devStabSliders;
    bool devStabFrame;
    bool devStabDiag;
    bool didCompleteOnboarding;
    wchar_t recordingFolder[SETTINGS_FOLDER_CAPACITY];
    wchar_t wideDeviceID[SETTINGS_DEVICE_ID_CAPACITY];
    wchar_t macroDeviceID[SETTINGS_DEVICE_ID_CAPACITY];
    wchar_t micDeviceID[SETTINGS_DEVICE_ID_CAPACITY];
    int32_t appearanceMode;  // 0 follow Windows, 1 light, 2 dark
};

extern SettingsRecord Settings;

// Zeroes the record and sets every default.
void SettingsResetDefaults();

// Applies the load-time limits (stabilisation ranges, appearance 0..2).
void SettingsClamp();
