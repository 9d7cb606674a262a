#include <gtest/gtest.h>

#include <windows.h>

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

    // The suggestion only when it fits (that it sits in the Videos folder: the real app's test).
    wchar_t out[MAX_PATH];
    SuggestRecordingFolder(out, MAX_PATH);
    const size_t length = wcslen(out);
    ASSERT_GT(length, 0u);
    SuggestRecordingFolder(out, static_cast<int32_t>(length));  // one unit short
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
