// Recordings cut off by a crash or left by a failed finalisation, under Wine: the marker of a
// running recording, and what the next start does with each
// kind of leftover and with a copy that broke off. Nothing is ever deleted or overwritten that
// is not also whole elsewhere.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/texts.h"
#include "capture/media_seam.h"
#include "record/recording_recovery.h"
#include "standins/virtual_sink_writer.h"
#include "tests/record/scripted_sink.h"

namespace {

// ---- The recorder's side ----

constexpr MediaSeamOverride substituteSeam = {nullptr, nullptr, nullptr, VirtualSinkWriterCreate};

// (The fragmented file that a killed recording leaves, and its marker: the recovery end-to-end
// script.) A recording is marked until saved, and a start-up scan leaves a running one alone.
TEST_F(RecorderFixture, ARecordingIsMarkedUntilSaved)
{
    MediaSeamInstall(&substituteSeam);
    Start();
    VirtualSinkReport report = {};
    VirtualSinkLastReport(&report);
    // (Other test programs may record in the same folder at the same time.)
    const std::wstring marker = std::wstring(report.path) + L".recording";
    RecoveryOutcome outcome;
    RecoveryRun(TempFolder().c_str(), recordings.c_str(), &outcome);
    EXPECT_NE(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(report.path), INVALID_FILE_ATTRIBUTES);
    SubmitFrame(1'000);
    EXPECT_TRUE(VirtualSinkWaitAccepted(VirtualSinkStream::Video, 1, 30000));
    EXPECT_EQ(StopAndWait().wParam, 1u);
    EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FilesIn(recordings).size(), 1u);
}

// A file that could not be finalised stays marked in the temporary folder, and the user learns
// that the next start brings it into the recording folder, which it then does.
TEST_F(RecorderFixture, AFileThatCouldNotBeFinalisedStaysMarkedAndTheNextStartMovesIt)
{
    const std::string fragment = Box("moof", 60) + Box("mdat", 4000);
    sink.videoBytes = fragment;
    sink.finalizeFailure = E_FAIL;
    Start();
    SubmitFrame(1'000);
    ASSERT_TRUE(WaitUntil([] { return Writes().size() == 1; }));
    const Posted ended = StopAndWait();
    EXPECT_EQ(ended.wParam, 0u);
    EXPECT_EQ(ended.text, L"Recording could not be finalized: 0x80004005");
    ASSERT_EQ(Warnings().size(), 1u);
    const std::wstring told = Warnings()[0];
    const std::wstring heading = L"The recording could not be finalized. The incomplete file is in the temporary "
                                 L"folder; MI-RU will try to move it into the recording folder at the next start:\n\n";
    ASSERT_EQ(told.substr(0, heading.size()), heading);
    const std::wstring file = told.substr(heading.size());
    EXPECT_NE(GetFileAttributesW((file + L".recording").c_str()), INVALID_FILE_ATTRIBUTES);

    RecoveryOutcome outcome;
    RecoveryRun(TempFolder().c_str(), recordings.c_str(), &outcome);
    EXPECT_GE(outcome.recovered, 1);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::vector<std::wstring> moved = FilesIn(recordings, L"MI-RU-*-wiederhergestellt*.mp4");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(ReadFileBytes(recordings + L"\\" + moved[0]), fragment);
}

// ---- The next start ----

const std::string emptyMovie = Box("ftyp", 24) + Box("moov", 300);
const std::string playableMovie = emptyMovie + Box("moof", 60) + Box("mdat", 4000) + Box("moof", 60).substr(0, 30);

class RecoveryTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        temp = std::wstring(folder.Path()) + L"\\tmp";
        recordings = std::wstring(folder.Path()) + L"\\Aufnahmen";
        CreateDirectoryW(temp.c_str(), nullptr);
        CreateDirectoryW(recordings.c_str(), nullptr);
    }
    // A leftover "miru-<seconds>.mp4" with its marker (start time `stamp`, or unreadable).
    std::wstring Leave(const std::string& bytes, const char* stamp = "2026-03-04_05-06-07", int64_t seconds = 1000)
    {
        const std::wstring file = temp + L"\\miru-" + std::to_wstring(seconds) + L".mp4";
        WriteFileBytes(file, bytes);
        WriteFileBytes(file + L".recording", stamp);
        return file;
    }
    RecoveryOutcome Run(const std::wstring& into)
    {
        RecoveryOutcome outcome;
        RecoveryRun(temp.c_str(), into.c_str(), &outcome);
        return outcome;
    }

    TestSettingsFolder folder;
    std::wstring temp;
    std::wstring recordings;
};

TEST_F(RecoveryTest, AMarkedLeftoverMovesUnderItsStartTimeBesideAnEarlierFileOfThatName)
{
    const std::wstring earlier = recordings + L"\\MI-RU-2026-03-04_05-06-07-wiederhergestellt.mp4";
    WriteFileBytes(earlier, "earlier");
    const std::wstring unmarked = temp + L"\\miru-5.mp4";  // a file that stays by design
    WriteFileBytes(unmarked, playableMovie);
    Leave(playableMovie);

    RecoveryOutcome outcome = Run(recordings);
    EXPECT_EQ(outcome.recovered, 1);
    const std::wstring moved = recordings + L"\\MI-RU-2026-03-04_05-06-07-wiederhergestellt_2.mp4";
    EXPECT_EQ(ReadFileBytes(moved), playableMovie);
    EXPECT_EQ(ReadFileBytes(earlier), "earlier");
    EXPECT_EQ(FilesIn(temp), std::vector<std::wstring>{L"miru-5.mp4"});
    EXPECT_EQ(std::wstring(outcome.message), L"Interrupted recording recovered:\n" + moved);
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"Unterbrochene Aufnahme wiederhergestellt: "
                                     L"MI-RU-2026-03-04_05-06-07-wiederhergestellt_2.mp4"),
              1u);

    // The next start finds nothing; a marker without a stamp falls back to the name's time.
    outcome = Run(recordings);
    EXPECT_EQ(outcome.recovered + outcome.keptMarked + outcome.keptUnmarked, 0);
    EXPECT_EQ(outcome.message[0], L'\0');
    Leave(playableMovie, "", 86400 * 365);
    EXPECT_EQ(Run(recordings).recovered, 1);
    EXPECT_EQ(FilesIn(recordings, L"MI-RU-1971-01-0?_*-wiederhergestellt.mp4").size(), 1u);
}

// Nothing recorded, or data nobody can play (an unfinished plain file): left in place unmarked;
// only the second is named to the user, once. A marker without its file goes.
TEST_F(RecoveryTest, EmptyOrUnplayableLeftoversStayUnmarkedAndAMarkerWithoutItsFileGoes)
{
    const std::wstring file = Leave(emptyMovie);
    WriteFileBytes(temp + L"\\miru-7.mp4.recording", "2026-03-04_05-06-07");  // its file already moved
    RecoveryOutcome outcome = Run(recordings);
    EXPECT_EQ(outcome.keptUnmarked, 1);
    EXPECT_EQ(outcome.message[0], L'\0');  // nothing the user lost
    EXPECT_EQ(ReadFileBytes(file), emptyMovie);
    EXPECT_EQ(FilesIn(temp), std::vector<std::wstring>{L"miru-1000.mp4"});
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Unterbrochene Aufnahme ohne Bilddaten \u2014 bleibt im tempor\u00e4ren Ordner: "
                                    L"miru-1000.mp4"),
              1u);
    EXPECT_EQ(TimesLogged(LOG_INFO, L"Aufnahme-Markierung ohne Datei entfernt: miru-7.mp4.recording"), 1u);

    const std::string plain = Box("ftyp", 24) + std::string("\0\0\0\1mdat\0\0\0\0\0\0\0\x10", 16) + std::string(5000, '\xFF');
    const std::wstring unplayable = Leave(plain, "2026-03-04_05-06-07", 2000);
    outcome = Run(recordings);
    EXPECT_EQ(outcome.keptUnmarked, 1);
    EXPECT_NE(std::wstring(outcome.message).find(unplayable), std::wstring::npos);
    EXPECT_EQ(ReadFileBytes(unplayable), plain);
    EXPECT_TRUE(FilesIn(recordings).empty());
    EXPECT_EQ(Run(recordings).message[0], L'\0');  // told once
}

// (A move that fails: the two-drive test.)
TEST_F(RecoveryTest, WithoutAFolderTheLeftoverStaysMarkedAndTheUserLearnsWhere)
{
    const std::wstring file = Leave(playableMovie);
    RecoveryOutcome outcome = Run(L"");
    EXPECT_EQ(outcome.keptMarked, 1);
    EXPECT_EQ(std::wstring(outcome.message),
              L"Interrupted recording in the temporary folder (no recording folder chosen):\n" + file);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Kein Aufnahmeordner gew\u00e4hlt \u2014 unterbrochene Aufnahme bleibt im "
                                    L"tempor\u00e4ren Ordner: " +
                                        file),
              1u);

    // Once there is a folder, the next start brings it in.
    outcome = Run(recordings);
    EXPECT_EQ(outcome.recovered, 1);
    EXPECT_TRUE(FilesIn(temp).empty());
}

// A copy into the recording folder that broke off goes only while its original is whole and
// marked (the original is then moved again); otherwise it may be all that is left: it stays, and
// the user learns where.
TEST_F(RecoveryTest, ABrokenOffCopyGoesOnlyWhileItsOriginalIsWhole)
{
    Leave(playableMovie);
    WriteFileBytes(recordings + L"\\miru-1000.mp4.tmp", playableMovie.substr(0, 100));
    const std::wstring orphan = recordings + L"\\miru-2000.mp4.tmp";
    WriteFileBytes(orphan, playableMovie);
    const RecoveryOutcome outcome = Run(recordings);
    EXPECT_EQ(outcome.recovered, 1);
    const std::wstring moved = L"MI-RU-2026-03-04_05-06-07-wiederhergestellt.mp4";
    EXPECT_EQ(FilesIn(recordings), (std::vector<std::wstring>{moved, L"miru-2000.mp4.tmp"}));
    EXPECT_EQ(ReadFileBytes(recordings + L"\\" + moved), playableMovie);
    EXPECT_EQ(ReadFileBytes(orphan), playableMovie);
    EXPECT_EQ(std::wstring(outcome.message),
              L"Incomplete copy of a recording in the recording folder (kept because its original in the temporary "
              L"folder is missing or incomplete):\n" + orphan + L"\n\nInterrupted recording recovered:\n" + recordings +
                  L"\\" + moved);
}

}  // namespace
