#pragma once
// A fresh, empty application data folder for one test. While it lives, the settings store (and
// with it the log file) uses it instead of the user's folder; the settings record and the log
// ring start from their initial state.
#include <string>

class TestSettingsFolder {
public:
    TestSettingsFolder();
    ~TestSettingsFolder();
    TestSettingsFolder(const TestSettingsFolder&) = delete;
    TestSettingsFolder& operator=(const TestSettingsFolder&) = delete;

    const wchar_t* Path() const { return path_.c_str(); }
    std::wstring File(const wchar_t* name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Whole file contents as bytes ("" when missing).
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
