// The storage monitor and a full disk on a real small drive: the temporary folder and the
// recording folder both on an 8 MB tmpfs mapped as drive M: (see small_drive.sh); and the move
// into a recording folder on a second such drive N: that is too full for the recording.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "base/app_messages.h"
#include "record/file_move.h"
#include "record/recording_recovery.h"
#include "settings/settings_store.h"
#include "tests/record/scripted_sink.h"

namespace {

constexpr wchar_t SHELL_FOLDERS[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

class SmallDriveTest : public RecorderFixture {
protected:
    void SetUp() override
    {
        wchar_t drives[16] = {};
        ASSERT_EQ(GetEnvironmentVariableW(L"MIRU_SMALL_DRIVES", drives, 16), 5u)
            << "two small drives expected: run under small_drive.sh with two drive letters";
        root = std::wstring(drives, 2);
        second = std::wstring(drives + 3, 2);
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
    std::wstring second;
    wchar_t savedLocal[MAX_PATH] = {};
};

TEST_F(SmallDriveTest, NothingIsMeasuredInTheFirstFiveSecondsThenTheRecordingStopsBelowTheReserve)
{
    Start();
    SubmitFrame(1000);
    StopAndWait();  // stopped at once: nothing measured yet
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"Speicherplatz fast voll"), 0u);

    // 8 MB are far below the 1 GB reserve: the first measurement, 5 s in, stops the recording.
    posted.clear();
    Start();
    SubmitFrame(1000);
    ASSERT_TRUE(WaitUntil([] { return CountPosted(WM_APP_STOP_RECORDING) == 1; }, 15));
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"Speicherplatz fast voll (8 MB frei) \u2014 Aufnahme wird automatisch beendet") +
                  TimesLogged(LOG_EVENT, L"Speicherplatz fast voll (7 MB frei) \u2014 Aufnahme wird automatisch beendet"),
              1u);
    EXPECT_EQ(Warnings(), std::vector<std::wstring>{L"Recording stopped automatically: storage at the destination is "
                                                    L"almost full. The recording has been saved."});
    EXPECT_EQ(StopAndWait().wParam, 1u);
    EXPECT_EQ(FilesIn(recordings).size(), 2u);
}

TEST_F(SmallDriveTest, AFullDiskEndsTheRecordingCleanlyAndTheUserLearnsWhereTheFileIs)
{
    sink.videoBytes = std::string(1 << 20, 'Z');  // a megabyte per picture fills the drive in a few frames
    const std::vector<std::wstring> before = FilesIn(recordings);
    Start();
    for (int i = 0; i < 12 && CountPosted(WM_APP_STOP_RECORDING) == 0; i++) {
        SubmitFrame(1000 + i * 333'333LL);
        WaitUntil([&] { return Writes().size() > static_cast<size_t>(i) || CountPosted(WM_APP_STOP_RECORDING) > 0; });
    }
    ASSERT_TRUE(WaitUntil([] { return CountPosted(WM_APP_STOP_RECORDING) == 1; }));
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Aufnahme-Writer fehlgeschlagen: 0x80070070"), 1u);
    const Posted ended = StopAndWait();
    EXPECT_EQ(ended.wParam, 0u);
    EXPECT_EQ(ended.text, L"Recording could not be finalized: 0x80070070");
    // Two warnings: the drive's failure, and where the unfinished file lies.
    const std::vector<std::wstring> warnings = Warnings();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], L"Recording failed \u2014 drive disconnected or write error. The file is most likely unusable.");
    const std::wstring& where = warnings[1];
    const size_t at = where.find(TempFolder() + L"\\miru-");
    ASSERT_NE(at, std::wstring::npos) << std::string(where.begin(), where.end());
    const std::wstring file = where.substr(at);
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FilesIn(recordings), before);
    DeleteFileW(file.c_str());
}

// The temporary folder on M:, the recording folder on N:, too full for the recording: the copy
// breaks off leaving nothing in the recording folder, the file stays whole and marked; the next
// start fails the same way, and once there is room it moves the file (again a copy across
// drives, which a shutdown cancels).
TEST_F(SmallDriveTest, AMoveToAFullSecondDriveLeavesNoPartialFileAndTheNextStartMovesIt)
{
    const std::wstring into = second + L"\\Aufnahmen";
    CreateDirectoryW(into.c_str(), nullptr);
    const std::wstring other = into + L"\\MI-RU-2026-01-01_00-00-00.mp4";
    WriteFileBytes(other, std::string(4 << 20, 'o'));
    wcscpy(Settings.recordingFolder, into.c_str());
    const std::string fragment = Box("moof", 60) + Box("mdat", 1 << 20);
    sink.videoBytes = fragment;
    Start();
    for (int i = 0; i < 5; i++) {
        SubmitFrame(1000 + i * 333'333LL);
        WaitUntil([&] { return Writes().size() > static_cast<size_t>(i); });
    }
    const Posted ended = StopAndWait();
    EXPECT_EQ(ended.wParam, 0u);
    EXPECT_EQ(ended.text, L"Move failed \u2014 file remains in the temporary folder");
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Aufnahme speichern fehlgeschlagen: Fehler 112"), 1u);
    const std::wstring heading = L"The recording could not be moved into the recording folder (drive full or "
                                 L"disconnected?). The file is still in the temporary folder; MI-RU will try again "
                                 L"to move it at the next start.\n\n";
    const std::vector<std::wstring> warnings = Warnings();
    const auto told = std::find_if(warnings.begin(), warnings.end(), [&](const std::wstring& w) { return w.rfind(heading, 0) == 0; });
    ASSERT_NE(told, warnings.end());
    const std::wstring file = told->substr(heading.size());
    std::string whole;
    for (int i = 0; i < 5; i++) whole += fragment;
    whole += "movie";
    EXPECT_EQ(ReadFileBytes(file), whole);
    EXPECT_EQ(FilesIn(into), std::vector<std::wstring>{L"MI-RU-2026-01-01_00-00-00.mp4"});

    // The next start (which needs the file marked and the marker let go) with the drive still
    // full: the same, and nothing else there is touched.
    RecoveryOutcome outcome;
    RecoveryRun(TempFolder().c_str(), into.c_str(), &outcome);
    EXPECT_EQ(outcome.keptMarked, 1);
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Unterbrochene Aufnahme konnte nicht verschoben werden (Fehler 112): " + file), 1u);
    EXPECT_EQ(std::wstring(outcome.message), L"Interrupted recording could not be brought into the recording folder "
                                             L"and is still in the temporary folder:\n" + file);
    EXPECT_EQ(ReadFileBytes(file), whole);
    EXPECT_EQ(FilesIn(into), std::vector<std::wstring>{L"MI-RU-2026-01-01_00-00-00.mp4"});
    EXPECT_EQ(ReadFileBytes(other), std::string(4 << 20, 'o'));

    DeleteFileW(other.c_str());
    volatile LONG cancel = 1;  // as at a shutdown
    auto name = [](const void* folder, int32_t n, wchar_t* out, int32_t capacity) {
        return swprintf(out, static_cast<size_t>(capacity), L"%ls\\moved-%d.mp4", static_cast<const wchar_t*>(folder),
                        n) > 0;
    };
    wchar_t moved[MAX_PATH];
    DWORD error = 0;
    EXPECT_FALSE(FileMoveInto(file.c_str(), into.c_str(), name, into.c_str(), moved, MAX_PATH, &cancel, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_REQUEST_ABORTED));
    EXPECT_TRUE(FilesIn(into).empty());

    RecoveryRun(TempFolder().c_str(), into.c_str(), &outcome);
    EXPECT_EQ(outcome.recovered, 1);
    const std::vector<std::wstring> recovered = FilesIn(into);
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_NE(recovered[0].find(L"-wiederhergestellt.mp4"), std::wstring::npos);
    EXPECT_EQ(ReadFileBytes(into + L"\\" + recovered[0]), whole);
    EXPECT_TRUE(FilesIn(TempFolder()).empty());
    DeleteFileW((into + L"\\" + recovered[0]).c_str());
}

}  // namespace
