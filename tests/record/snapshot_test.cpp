// Photo presses in this process with the real compositor and WIC: two files without a Macro
// frame (the view equal to the Wide photo), names that never replace earlier photos, the bound
// on running jobs, and presses that save nothing. (Sizes and content: the end-to-end script.)
#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

#include "capture/capture_state.h"
#include "frames/frame_store.h"
#include "base/win_owners.h"
#include "record/snapshot.h"
#include "settings/settings_store.h"
#include "tests/record/scripted_sink.h"

namespace {

bool WaitForLog(uint32_t level, const std::wstring& text, size_t count = 1)
{
    return WaitUntil([&] { return TimesLogged(level, text) >= count; }, 60);
}

class SnapshotTest : public testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        photos = std::wstring(folder.Path()) + L"\\Fotos";
        CreateDirectoryW(photos.c_str(), nullptr);
        wcscpy(Settings.recordingFolder, photos.c_str());
        Frame* wide = FrameCreate(64, 36);
        for (int32_t i = 0; i < 64 * 36; i++) reinterpret_cast<uint32_t*>(wide->pixels)[i] = 0xFF3080C0u + i;
        FramePublish(SLOT_WIDE, wide);
        FrameRelease(wide);
        CaptureSetLive(true);
    }
    void TearDown() override
    {
        EXPECT_TRUE(SnapshotWaitForShutdown(60000));
        CaptureResetStateForTest();
        FrameClearPublished();
        EXPECT_EQ(FrameLiveCount(), 0);
        CoUninitialize();
    }

    TestSettingsFolder folder;
    std::wstring photos;
};

// A photo gets its name only when complete; what a press cut off by a crash left (a ".tmp") stays.
TEST_F(SnapshotTest, WithoutAMacroFrameTwoPhotosAndEarlierPhotosAreNeverReplaced)
{
    // Earlier photos and half-written ones under every name a press could pick in the next seconds.
    std::vector<std::wstring> earlier;
    const time_t now = time(nullptr);
    for (time_t t = now; t < now + 20; t++) {
        tm local = *localtime(&t);
        wchar_t stamp[32];
        wcsftime(stamp, 32, L"%Y-%m-%d_%H-%M-%S", &local);
        for (const wchar_t* kind : {L"Wide.jpg", L"Ansicht.jpg", L"Wide.jpg.tmp"}) {
            earlier.push_back(photos + L"\\MI-RU-" + stamp + L"-" + kind);
            WriteFileBytes(earlier.back(), "earlier photo");
        }
    }
    SnapshotRequest();
    ASSERT_TRUE(WaitForLog(LOG_EVENT, L"2 Fotos gespeichert (Wide, Macro, Ansicht)"));
    for (const std::wstring& path : earlier) EXPECT_EQ(ReadFileBytes(path), "earlier photo");
    EXPECT_EQ(FilesIn(photos, L"*.tmp").size(), 20u);
    std::vector<std::wstring> made;
    for (const std::wstring& name : FilesIn(photos, L"*.jpg"))
        if (ReadFileBytes(photos + L"\\" + name) != "earlier photo") made.push_back(name);
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[0].substr(made[0].size() - 14), L"-Ansicht_2.jpg");
    EXPECT_EQ(made[1].substr(made[1].size() - 11), L"-Wide_2.jpg");
    EXPECT_EQ(ReadFileBytes(photos + L"\\" + made[0]), ReadFileBytes(photos + L"\\" + made[1]));  // same picture
}

// Presses in quick succession start at most two jobs; the exit's wait for them is bounded and
// says when it gives up; presses that cannot save say why.
TEST_F(SnapshotTest, QuickPressesStartAtMostTwoJobsAndPressesThatCannotSaveSayWhy)
{
    const HandleOwner gate(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SnapshotHoldJobsForTest(gate.handle);
    std::vector<SnapshotResult> results;
    for (int i = 0; i < 4; i++) results.push_back(SnapshotRequest());
    EXPECT_EQ(results, (std::vector<SnapshotResult>{SnapshotResult::Started, SnapshotResult::Started,
                                                     SnapshotResult::Busy, SnapshotResult::Busy}));
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Foto ignoriert \u2014 vorherige Fotos werden noch gespeichert"), 2u);
    EXPECT_FALSE(SnapshotWaitForShutdown(0));  // both are held
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Foto-Threads enden nicht rechtzeitig \u2014 Programm wird trotzdem beendet"), 1u);
    SetEvent(gate.handle);
    SnapshotHoldJobsForTest(nullptr);
    ASSERT_TRUE(SnapshotWaitForShutdown(60000));  // ended, not only logged: the next press needs a free place
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"2 Fotos gespeichert (Wide, Macro, Ansicht)"), 2u);
    EXPECT_EQ(FilesIn(photos, L"*.jpg").size(), 4u);

    Settings.recordingFolder[0] = L'\0';
    SnapshotRequest();
    EXPECT_TRUE(WaitForLog(LOG_WARN, L"Kein Aufnahmeordner gew\u00e4hlt \u2014 Fotos nicht gespeichert"));

    CaptureResetStateForTest();  // not live
    EXPECT_EQ(SnapshotRequest(), SnapshotResult::NoPicture);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Foto nicht m\u00f6glich \u2014 noch kein Live-Bild"), 1u);
    EXPECT_EQ(FilesIn(photos, L"*.jpg").size(), 4u);
}

// A recording folder so deep that the photos' names pass the system's path limit (MAX_PATH):
// every kind fails and says so, the press ends, and nothing is left in the folder.
TEST_F(SnapshotTest, PhotosWhosePathsAreTooLongFailAndLeaveNothing)
{
    std::wstring deep = photos;
    while (deep.size() < 225) {  // the directories themselves stay within their limit of 248
        deep += L"\\Ordner-10";
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    wcscpy(Settings.recordingFolder, deep.c_str());
    ASSERT_EQ(SnapshotRequest(), SnapshotResult::Started);
    ASSERT_TRUE(WaitForLog(LOG_ERROR, L"Keine Fotos gespeichert"));
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Foto speichern fehlgeschlagen: Pfad zu lang ("), 2u);
    EXPECT_TRUE(FilesIn(deep).empty());
}

}  // namespace
