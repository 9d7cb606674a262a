#include <gtest/gtest.h>

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/texts.h"
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
    EXPECT_TRUE(LogEntries().empty());  // a cancel is not a failure
}

}  // namespace
