#pragma once
// Loading and saving the settings record as a UTF-16LE INI file ("settings.ini") in the
// application data folder, and the appearance decision.
#include <cstdint>
#include "settings/settings_record.h"

void SettingsLoad();
// Writes every field; false (the cause logged) when any key could not be written.
bool SettingsSave();

// The application data folder (created if missing); empty when it cannot be determined.
// `dest` holds SETTINGS_FOLDER_CAPACITY characters.
void SettingsFolder(wchar_t* dest);

// True when the interface is drawn dark (appearance setting, else the Windows app theme).
bool IsDarkAppearance();

void IniReadBool(const wchar_t* path, const wchar_t* key, bool* field);
void IniReadDouble(const wchar_t* path, const wchar_t* key, double* field);
void IniReadString(const wchar_t* path, const wchar_t* key, wchar_t* field, int capacity);
bool IniWriteDouble(const wchar_t* path, const wchar_t* key, double value, uint32_t* lastError);

#ifdef MIRU_TEST_HOOKS
// Tests only: makes SettingsFolder return `folder` (null restores the real folder).
void SettingsSetFolderOverride(const wchar_t* folder);
#endif
