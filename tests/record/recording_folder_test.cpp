#include <gtest/gtest.h>

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/texts.h"
#include "diag/log.h"
#include "record/recording_folder.h"
#include "tests/support/test_folder.h"

namespace {

// "Q:\" for the highest drive letter that is not mapped.
std::wstring UnmappedDriveRoot()
{
    int letter = 25;
    while (letter > 2 && (GetLogicalDrives() & (1u << letter))) letter--;
    return std::wstring(1, static_cast<wchar_t>(L'A' + letter)) + L":\\";
}

TEST(RecordingFolder, FreeSpaceAndExistenceOnlyForReachableFolders)
{
    TestSettingsFolder folder;
    const std::wstring file = folder.File(L"clip.mp4");
    WriteFileBytes(file, "x");
    const std::wstring missing = UnmappedDriveRoot() + L"Aufnahmen";
    EXPECT_GE(FreeBytesForCaller(folder.Path()), 0);
    EXPECT_EQ(FreeBytesForCaller(L""), -1);
    EXPECT_EQ(FreeBytesForCaller(missing.c_str()), -1);
    EXPECT_TRUE(FolderExists(folder.Path()));
    EXPECT_FALSE(FolderExists(file.c_str()));
    EXPECT_FALSE(FolderExists(missing.c_str()));
    EXPECT_FALSE(FolderExists(L""));
}

TEST(RecordingFolder, SuggestionSitsInTheVideosFolder)
{
    TestSettingsFolder folder;
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

// Drives the real dialog: a helper thread finds it by its English title and cancels it.
TEST(RecordingFolder, PickerRejectsBadArgumentsAndCancelLeavesNothing)
{
    TestSettingsFolder folder;
    wchar_t out[MAX_PATH] = L"stale";
    EXPECT_FALSE(PickRecordingFolder(nullptr, nullptr, MAX_PATH));
    EXPECT_FALSE(PickRecordingFolder(nullptr, out, 0));
    EXPECT_STREQ(out, L"stale");

    TextsSetLanguageForTest(0);
    std::atomic<bool> picking{true};
    std::thread canceller([&] {
        // Gives up after a minute; a dialog that never shows then fails by the test's time-out.
        for (int tick = 0; tick < 600 && picking.load(); tick++, Sleep(100)) {
            HWND dialog = FindWindowW(nullptr, L"Choose the folder where MI-RU saves recordings and photos.");
            if (dialog && IsWindowVisible(dialog)) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    EXPECT_FALSE(PickRecordingFolder(nullptr, out, MAX_PATH));
    picking = false;
    canceller.join();
    TextsSetLanguageForTest(-1);
    EXPECT_STREQ(out, L"");
    LogEntry anyEntry;
    EXPECT_EQ(LogSnapshot(&anyEntry, 1), 0u);  // a cancel is not a failure
}

}  // namespace
