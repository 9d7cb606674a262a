#include <gtest/gtest.h>

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "record/recording_folder.h"
#include "tests/diag/log_probe.h"

namespace {

TEST(RecordingFolder, FreeSpaceAndExistenceOnlyForReachableFolders)
{
    TestSettingsFolder folder;
    const std::wstring file = folder.File(L"clip.mp4");
    WriteFileBytes(file, "x");
    int letter = 25;  // the highest drive letter that is not mapped
    while (letter > 2 && (GetLogicalDrives() & (1u << letter))) letter--;
    const std::wstring missing = std::wstring(1, static_cast<wchar_t>(L'A' + letter)) + L":\\Aufnahmen";
    EXPECT_GE(FreeBytesForCaller(folder.Path()), 0);
    for (const wchar_t* unreachable : {L"", missing.c_str()}) {
        EXPECT_EQ(FreeBytesForCaller(unreachable), -1) << unreachable;
        EXPECT_FALSE(FolderExists(unreachable)) << unreachable;
    }
    EXPECT_TRUE(FolderExists(folder.Path()));
    EXPECT_FALSE(FolderExists(file.c_str()));

    // The suggestion sits in the Videos folder, and only when it fits.
    PWSTR videos = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Videos, 0, nullptr, &videos)));
    const std::wstring expected = std::wstring(videos) + L"\\MI-RU Aufnahmen";
    CoTaskMemFree(videos);
    wchar_t out[MAX_PATH];
    SuggestRecordingFolder(out, MAX_PATH);
    EXPECT_EQ(std::wstring(out), expected);
    SuggestRecordingFolder(out, static_cast<int32_t>(expected.size()));  // one unit short
    EXPECT_STREQ(out, L"");
}

TEST(RecordingFolder, PickerRejectsBadArguments)
{
    wchar_t out[MAX_PATH] = L"stale";
    EXPECT_FALSE(PickRecordingFolder(nullptr, nullptr, MAX_PATH));
    EXPECT_FALSE(PickRecordingFolder(nullptr, out, 0));
    EXPECT_STREQ(out, L"stale");
}

}  // namespace
