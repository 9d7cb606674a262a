// The storage monitor and a full disk on a real small drive: the temporary folder and the
// recording folder both on an 8 MB tmpfs mapped as drive M: (see small_drive.sh).
#include <gtest/gtest.h>
#include <windows.h>
#include <mfapi.h>

#include <algorithm>
#include <string>

#include "base/app_messages.h"
#include "app/texts.h"
#include "frames/frame_store.h"
#include "record/recorder.h"
#include "settings/settings_store.h"
#include "tests/diag/log_probe.h"
#include "tests/record/scripted_sink.h"

namespace {

constexpr wchar_t SHELL_FOLDERS[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

class SmallDriveTest : public RecorderFixture {
protected:
    void SetUp() override
    {
        wchar_t drive[8] = {};
        if (!GetEnvironmentVariableW(L"MIRU_SMALL_DRIVE", drive, 8)) GTEST_SKIP() << "no small drive (needs root)";
        root = drive;
        // The local application data folder (home of the temporary folder) moves onto the drive.
        DWORD size = sizeof(savedLocal);
        if (RegGetValueW(HKEY_CURRENT_USER, SHELL_FOLDERS, L"Local AppData", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                         nullptr, savedLocal, &size))
            wcscpy(savedLocal, L"%USERPROFILE%\\AppData\\Local");
        SetLocal((root + L"\\local").c_str());
        CreateDirectoryW((root + L"\\local").c_str(), nullptr);
        ASSERT_EQ(TempFolder().substr(0, 2), root) << "the temporary folder did not move";
        WriteFileBytes(root + L"\\andere-datei.txt", "nicht anfassen");
        Begin(root);
    }
    void TearDown() override
    {
        if (root.empty()) return;
        End();
        SetLocal(savedLocal);
        EXPECT_EQ(ReadFileBytes(root + L"\\andere-datei.txt"), "nicht anfassen");
    }
    static void SetLocal(const wchar_t* value)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, SHELL_FOLDERS, L"Local AppData", REG_EXPAND_SZ, value,
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }

    std::wstring root;
    wchar_t savedLocal[MAX_PATH] = {};
};

TEST_F(SmallDriveTest, NothingIsMeasuredInTheFirstFiveSecondsThenTheRecordingStopsBelowTheReserve)
{
    Start();
    SubmitFrame(1000);
    ASSERT_NE(StopAndWait(), nullptr);  // stopped at once: nothing measured yet
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Speicherplatz fast voll"), 0u);

    // 8 MB are far below the 1 GB reserve: the first measurement, 5 s in, stops the recording.
    posted.clear();
    Start();
    SubmitFrame(1000);
    ASSERT_TRUE(WaitUntil([] { return CountPosted(WM_APP_STOP_RECORDING) == 1; }, 15));
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Speicherplatz fast voll (8 MB frei) \u2014 Aufnahme wird automatisch beendet") +
                  CountLogged(LOG_EVENT, L"Speicherplatz fast voll (7 MB frei) \u2014 Aufnahme wird automatisch beendet"),
              1u);
    ASSERT_EQ(CountPosted(WM_APP_WARNING), 1);
    EXPECT_EQ(std::find_if(posted.begin(), posted.end(), [](const Posted& p) { return p.message == WM_APP_WARNING; })->text,
              L"Recording stopped automatically: storage at the destination is almost full. The recording has been saved.");
    const Posted* ended = StopAndWait();
    ASSERT_NE(ended, nullptr);
    EXPECT_EQ(ended->wParam, 1u);
    EXPECT_EQ(FilesIn(recordings).size(), 2u);
}

TEST_F(SmallDriveTest, AFullDiskEndsTheRecordingCleanlyAndTheUserLearnsWhereTheFileIs)
{
    sink.bytesPerVideoWrite = 1 << 20;  // a megabyte per picture fills the drive in a few frames
    const std::vector<std::wstring> before = FilesIn(recordings);
    Start();
    for (int i = 0; i < 12 && CountPosted(WM_APP_STOP_RECORDING) == 0; i++) {
        SubmitFrame(1000 + i * 333'333LL);
        WaitUntil([&] { return Writes().size() > static_cast<size_t>(i) || CountPosted(WM_APP_STOP_RECORDING) > 0; });
    }
    ASSERT_TRUE(WaitUntil([] { return CountPosted(WM_APP_STOP_RECORDING) == 1; }));
    EXPECT_EQ(CountLogged(LOG_ERROR, L"Aufnahme-Writer fehlgeschlagen: 0x80070070"), 1u);
    const Posted* ended = StopAndWait();
    ASSERT_NE(ended, nullptr);
    EXPECT_EQ(ended->wParam, 0u);
    EXPECT_EQ(ended->text, L"Recording could not be finalized: 0x80070070");
    // Two warnings: the failure, and where the unfinished file lies.
    std::wstring where;
    for (const Posted& p : posted)
        if (p.message == WM_APP_WARNING) where = p.text;
    EXPECT_EQ(CountPosted(WM_APP_WARNING), 2);
    const size_t at = where.find(TempFolder() + L"\\miru-");
    ASSERT_NE(at, std::wstring::npos) << std::string(where.begin(), where.end());
    const std::wstring file = where.substr(at);
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FilesIn(recordings), before);
    DeleteFileW(file.c_str());
}

}  // namespace
