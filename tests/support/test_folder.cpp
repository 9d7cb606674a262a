#include "tests/support/test_folder.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "diag/log.h"
#include "settings/settings_store.h"

namespace {
std::atomic<unsigned> folderCounter{0};
}

TestSettingsFolder::TestSettingsFolder()
{
    wchar_t temp[MAX_PATH + 64] = L"C:\\";
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    swprintf(temp + (length && length < MAX_PATH ? length : 3), 64, L"miru-test-%lu-%u", GetCurrentProcessId(),
             folderCounter.fetch_add(1));
    path_ = temp;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_, ignored);
    SettingsSetFolderOverride(path_.c_str());
    SettingsResetDefaults();
    LogResetForTest();
}

TestSettingsFolder::~TestSettingsFolder()
{
    SettingsSetFolderOverride(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
