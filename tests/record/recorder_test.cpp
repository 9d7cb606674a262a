// The recorder under Wine against a scripted sink writer behind the media seam (or the
// substitute writer, which holds the system writer's rules): the state machine, the queues and
// their drain, sound tracks and gaps, write failures, the writer's set-up and its fallbacks, the
// reused video samples, the encoder backlog, the stop of a recording that records nothing and the
// finalisation with its names and folder. Messages go to a window of this test standing in for
// the main window.
#include <gtest/gtest.h>
#include <windows.h>
#include <mferror.h>

#include <algorithm>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "base/app_messages.h"
#include "capture/capture_state.h"
#include "capture/media_seam.h"
#include "record/recorder.h"
#include "settings/settings_store.h"
#include "standins/virtual_sink_writer.h"
#include "tests/diag/log_probe.h"
#include "tests/record/scripted_sink.h"

namespace {

class RecorderTest : public RecorderFixture {
protected:
    // The recording's closing line ("Aufnahme beendet: …").
    static std::wstring EndLine()
    {
        for (const std::wstring& e : LogTexts(LOG_EVENT))
            if (e.rfind(L"Aufnahme beendet:", 0) == 0) return e;
        return L"";
    }
    void WaitForWrites(size_t count)
    {
        ASSERT_TRUE(WaitUntil([&] { return Writes().size() >= count; })) << Writes().size() << " of " << count;
    }
    // Records through the substitute writer, which holds the system writer's rules, from a
    // 48 kHz stereo microphone.
    static void UseSubstituteWithMicrophone()
    {
        static constexpr MediaSeamOverride substitute = {nullptr, nullptr, nullptr, VirtualSinkWriterCreate};
        MediaSeamInstall(&substitute);
        StoreMicrophoneType(48000, 2);
    }
};

TEST_F(RecorderTest, RefusedStartsAndAStartTheMomentTheLastOneEnded)
{
    EXPECT_STREQ(RecordingStart(8193, 1080, false, nullptr, 0, 0), L"Invalid recording size");
    EXPECT_FALSE(RecordingIsActive());
    const std::vector<std::wstring> tempBefore = FilesIn(TempFolder());
    ASSERT_EQ(RecordingStart(8192, 8192, false, nullptr, 0, 0), nullptr);
    EXPECT_EQ(RecordingStart(64, 36, false, nullptr, 0, 0), nullptr);  // already running: nothing changes
    EXPECT_EQ(sink.writersCreated, 1);

    // A recording without frames leaves nothing behind and says so.
    const Posted ended = StopAndWait();
    EXPECT_EQ(ended.wParam, 0u);
    EXPECT_EQ(ended.text, L"No image data recorded");
    EXPECT_EQ(FilesIn(TempFolder()), tempBefore);
    EXPECT_TRUE(FilesIn(recordings).empty());

    // While one is being finalised a new start is refused; once the end is reported it works.
    Start();
    SubmitFrame(1000);
    WaitForWrites(1);
    ResetEvent(sink.gate);
    posted.clear();
    RecordingRequestStop();
    ASSERT_TRUE(WaitUntil([] {
        std::lock_guard<std::mutex> hold(sink.mutex);
        return sink.finalizing == 1;
    }));
    EXPECT_STREQ(RecordingStart(64, 36, false, nullptr, 0, 0), L"Previous recording is still finishing");
    EXPECT_EQ(sink.finalized, 0);
    SetEvent(sink.gate);
    ASSERT_TRUE(WaitUntil([] { return Ended() != nullptr; }));
    EXPECT_EQ(Ended()->wParam, 1u);
    EXPECT_EQ(RecordingStart(64, 36, false, nullptr, 0, 0), nullptr);
    // The end arrives even when its text cannot be copied: the window must leave "stopping".
    posted.clear();
    AppMessageTextCopiesFailForTest(true);
    RecordingRequestStop();
    const bool arrived = WaitUntil([] { return Ended() != nullptr; });
    AppMessageTextCopiesFailForTest(false);
    ASSERT_TRUE(arrived);
    EXPECT_EQ(Ended()->wParam, 0u);
    EXPECT_EQ(Ended()->text, L"");
}

// The AAC track has the microphone's rate and channels (the writer does not resample); a format
// the encoder cannot take is never handed to the writer (the writer's refusal: the set-up test).
TEST_F(RecorderTest, SoundTrackFollowsTheMicrophoneAndAnUnusableOneRecordsWithoutSound)
{
    UseSubstituteWithMicrophone();
    struct Case {
        UINT32 rate, channels;  // 0: no microphone type
        uint32_t wantStreams;
    };
    const Case cases[] = {{48000, 2, 2}, {44100, 1, 2}, {16000, 1, 1}, {48000, 4, 1}, {0, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        LogResetForTest();
        posted.clear();
        CaptureDropAudioMediaType();
        if (c.rate) StoreMicrophoneType(c.rate, c.channels);
        Start(true);
        VirtualSinkReport report = {};
        VirtualSinkLastReport(&report);
        const bool track = c.wantStreams == 2, warned = c.rate && !track;
        EXPECT_EQ(report.streamCount, c.wantStreams);
        EXPECT_TRUE(report.streams[1].sampleRate == (track ? c.rate : 0) && report.streams[1].channels == (track ? c.channels : 0));
        EXPECT_EQ(TimesLogged(LOG_WARN, L"Ton-Spur nicht hinzuf\u00fcgbar: das Mikrofon liefert"), warned ? 1u : 0u);
        EXPECT_EQ(LogTexts(LOG_WARN).size(), warned ? 1u : 0u);
        StopAndWait();
    }
}

TEST_F(RecorderTest, TimesQueuesOverrunsAndAStopThatDrainsEverything)
{
    StoreMicrophoneType(48000, 2);
    Start(true);
    const int64_t t0 = 50'000'000;
    SubmitSound(t0 - 5'000'000);  // before the first frame: never queued
    SubmitFrame(t0);
    WaitForWrites(1);
    SubmitSound(t0);  // the sound begins with the picture
    WaitForWrites(2);
    ResetEvent(sink.gate);
    SubmitSound(t0 - 1);  // before the time base: served (and dropped) before the next frame
    SubmitFrame(t0 + 400'000);
    ASSERT_TRUE(WaitUntil([] { return Blocked() == 1; }));  // the writer sits in WriteSample
    // 10.1 s of sound while the writer is busy: the oldest 0.1 s goes, the rest waits for it.
    for (int i = 1; i <= 1010; i++) SubmitSound(t0 + i * 100'000);
    SubmitFrame(t0 + 500'000);  // waits in the mailbox...
    SubmitFrame(t0 + 400'000);  // ...and is displaced by this one (not later than the last written)
    RecordingRequestStop();
    EXPECT_FALSE(RecordingIsActive());
    SubmitFrame(t0 + 900'000);  // after the stop: ignored
    SubmitSound(t0 + 900'000);
    SetEvent(sink.gate);
    EXPECT_EQ(StopAndWait().wParam, 1u);

    // The first frame at 0 with the nominal duration, the first sound, the next frame with the
    // camera's spacing, the 10 s of queued sound, and last the frame waiting in the mailbox. The
    // dropped 0.1 s is a gap: a tick at its start, the sample after it marked, every sample at its
    // own time on the picture's time line.
    std::vector<Write> expected = {{0, 0, 333333, false}, {1, 0, 100'000, false}, {0, 400'000, 400'000, false}};
    for (int i = 11; i <= 1010; i++) expected.push_back({1, i * 100'000, 100'000, i == 11});
    expected.push_back({0, 400'000, 333333, false});
    const std::vector<Write> writes = Writes();
    ASSERT_EQ(writes.size(), expected.size());
    for (size_t i = 0; i < writes.size(); i++)
        EXPECT_TRUE(writes[i].stream == expected[i].stream && writes[i].time == expected[i].time &&
                    writes[i].duration == expected[i].duration && writes[i].discontinuity == expected[i].discontinuity)
            << i << ": " << writes[i].time << " " << writes[i].duration << " " << writes[i].discontinuity;
    ASSERT_EQ(sink.ticks.size(), 1u);
    EXPECT_TRUE(sink.ticks[0].stream == 1 && sink.ticks[0].time == 100'000);
    // The dropped samples are a gap in the sound: said so.
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Aufnahme: 10 Ton-Bl\u00f6cke verworfen (Schreiben zu langsam) \u2014 der Ton hat L\u00fccken"), 1u);
    EXPECT_NE(EndLine().find(L"verworfen: 1 (Compositing), 0 (Encoder)"), std::wstring::npos);
    EXPECT_EQ(EndLine().rfind(L"Aufnahme beendet: 3 Frames", 0), 0u);
}

// A hard failure of the encoder is told once, as the encoder's (the drive's: the small-drive
// test), and stops the recording, which keeps what it has; a busy encoder only costs drops.
TEST_F(RecorderTest, HardWriteFailuresWarnAndStopOnceWhileBusyEncodersOnlyCountDrops)
{
    Start();
    auto script = [](int before, HRESULT failure) {
        std::lock_guard<std::mutex> hold(sink.mutex);
        sink.videoWritesBeforeFailure = before;
        sink.failure = failure;
    };
    script(1, MF_E_NOTACCEPTING);
    for (int i = 0; i < 3; i++) {
        SubmitFrame(1'000'000 + i * 333'333);
        WaitForWrites(static_cast<size_t>(i + 1));
    }
    script(0, MF_E_HW_MFT_FAILED_START_STREAMING);
    for (int i = 3; i < 8; i++) {
        SubmitFrame(1'000'000 + i * 333'333);
        if (i == 3) WaitForWrites(4);
    }
    ASSERT_TRUE(WaitUntil([] { return CountPosted(WM_APP_STOP_RECORDING) == 1; }));
    EXPECT_EQ(StopAndWait().wParam, 1u);  // the frame written before is finalised and saved
    EXPECT_EQ(Warnings(), std::vector<std::wstring>{
                              L"Recording stopped \u2014 the video encoder failed. What was recorded so far is kept."});
    EXPECT_EQ(CountPosted(WM_APP_STOP_RECORDING), 1);
    EXPECT_EQ(Writes().size(), 4u);  // nothing is handed to the writer after the failure
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Aufnahme-Writer fehlgeschlagen: 0xC00D3704"), 1u);
    EXPECT_NE(EndLine().find(L", 2 (Encoder)"), std::wstring::npos);
}

// A sound stream without a single sample would fail the writer's Finalize and lose the pictures:
// a recording whose microphone delivered nothing is saved, its sound track silent; the writer is
// told of the missing sound while the pictures go on. The video encoder is given its GOP size.
TEST_F(RecorderTest, AMicrophoneThatDeliversNothingLosesNoPicture)
{
    UseSubstituteWithMicrophone();
    Start(true);
    SubmitFrame(1'000);
    ASSERT_TRUE(VirtualSinkWaitAccepted(VirtualSinkStream::Video, 1, 30000));
    SubmitFrame(15'001'000);
    ASSERT_TRUE(VirtualSinkWaitAccepted(VirtualSinkStream::Video, 2, 30000));
    const Posted ended = StopAndWait();
    EXPECT_EQ(ended.wParam, 1u) << ended.text;
    VirtualSinkReport report = {};
    VirtualSinkLastReport(&report);
    EXPECT_TRUE(report.finalized && report.streamCount == 2 && report.streams[0].gopSize == 60);
    EXPECT_TRUE(report.streams[1].samplesWritten == 1 && report.streams[1].firstTime == 0);
    EXPECT_TRUE(report.tickCount == 1 && report.ticks[0].stream == 1 && report.ticks[0].time == 0);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Aufnahme: das Mikrofon hat keinen Ton geliefert"), 1u);
}

// A set-up step refused under the fragmented container is retried with the plain one, one refused
// with hardware encoders without them, each said in the log; the recording starts with its sound
// while any set-up takes it, else without (said too).
TEST_F(RecorderTest, SetUpFallsBackToThePlainContainerAndTheSoftwareEncoder)
{
    UseSubstituteWithMicrophone();
    LogResetForTest();
    using S = VirtualSinkStep;
    using T = VirtualSinkStream;
    struct Case {
        VirtualSinkSetUpFault faults[2];
        bool fragmented, hardware;  // what the recording gets
        uint32_t streams;
    };
    const Case cases[] = {
        {{{S::Create, T::Any, true, false}}, false, true, 2},
        {{{S::AddStream, T::Video, true, false}}, false, true, 2},
        {{{S::SetInput, T::Audio, true, false}}, false, true, 2},
        {{{S::Begin, T::Any, true, false}}, false, true, 2},
        {{{S::SetInput, T::Video, false, true}}, true, false, 2},
        {{{S::Begin, T::Any, true, false}, {S::SetInput, T::Video, false, true}}, false, false, 2},
        {{{S::SetInput, T::Audio, false, false}}, true, true, 1},
    };
    size_t softwareFallbacks = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        VirtualSinkScript script;
        script.setUpFaults[0] = c.faults[0];
        script.setUpFaults[1] = c.faults[1];
        VirtualSinkSetScript(script);
        posted.clear();
        Start(true);
        VirtualSinkReport report = {};
        VirtualSinkLastReport(&report);
        EXPECT_TRUE(report.began && report.streamCount == c.streams && report.fragmented == c.fragmented &&
                    report.hardwareTransforms == c.hardware);
        softwareFallbacks += !c.hardware;
        StopAndWait();
    }
    VirtualSinkResetScript();
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Fragmentiertes MP4 nicht verf\u00fcgbar (0x80004005)"), 1u);  // once per run
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Hardware-Encoder nicht verwendbar (0x80004005)"), softwareFallbacks);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Ton-Spur nicht hinzuf\u00fcgbar (0x80004005) \u2014 Aufnahme ohne Ton"), 1u);
}

// The writer's video samples come back when it lets go of them and are filled again; one it still
// holds is never handed in again.
TEST_F(RecorderTest, VideoSamplesAreReusedOnlyOnceTheWriterLetsGo)
{
    UseSubstituteWithMicrophone();
    Start();
    VirtualSinkReport report = {};
    VirtualSinkScript slow;
    slow.encodeDelayMs = 100;
    for (uint32_t i = 0; i < 20; i++) {
        // The first 12 each written (and let go of) before the next comes, the rest while the
        // writer is slow and holds several.
        if (i == 12) VirtualSinkSetScript(slow);
        SubmitFrame(1'000 + i * 333'333);
        ASSERT_TRUE(WaitUntil([&] {
            return VirtualSinkLastReport(&report) && report.streams[0].samplesWritten == i + 1 && (i >= 12 || !report.queued);
        }));
    }
    StopAndWait();
    VirtualSinkResetScript();
    VirtualSinkLastReport(&report);
    EXPECT_EQ(report.samplesHandedInWhileHeld, 0u);
    EXPECT_GE(report.samplesHandedInAgain, 6u);  // at least half of them
}

// An encoder more than a second behind gets no more frames; when for 5 s no picture gets
// through, the recording stops, saying why, and keeps what it has.
TEST_F(RecorderTest, AnEncoderThatStaysBehindForFiveSecondsStopsTheRecording)
{
    Start();
    {
        std::lock_guard<std::mutex> hold(sink.mutex);
        sink.processedTime = 0;  // the encoder never finishes a frame
    }
    auto handled = [](int count) {
        return WaitUntil([count] {
            std::lock_guard<std::mutex> hold(sink.mutex);
            return sink.statisticsQueries >= count;
        });
    };
    for (int i = 0; i < 4; i++) {
        SubmitFrame(10'000'000 + i * 5'000'000LL);
        WaitForWrites(static_cast<size_t>(i + 1));
    }
    // The writer now holds 1.5 s: every later picture is dropped.
    const int64_t late[] = {30'000'000, 50'000'000, 79'999'999, 80'000'000};
    for (int i = 0; i < 4; i++) {
        SubmitFrame(late[i]);
        ASSERT_TRUE(handled(5 + i));
    }
    ASSERT_TRUE(WaitUntil([] { return CountPosted(WM_APP_STOP_RECORDING) == 1; }));
    EXPECT_EQ(Warnings(), std::vector<std::wstring>{L"Recording stopped \u2014 for 5 seconds no picture could be recorded "
                                                    L"because the encoder failed or could not keep up. What was "
                                                    L"recorded so far is being saved."});
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Aufnahme: seit 5 s kein Bild aufgenommen (Encoder ausgefallen)"), 1u);
    EXPECT_EQ(StopAndWait().wParam, 1u);
    EXPECT_EQ(Writes().size(), 4u);
    EXPECT_EQ(EndLine().rfind(L"Aufnahme beendet: 4 Frames", 0), 0u);
    EXPECT_NE(EndLine().find(L"0 (Compositing), 4 (Encoder)"), std::wstring::npos);
}

// The names are those of the start (temporary) and of the move (final); every one the recording
// could pick from before its start until after its move is taken: nothing is replaced. The folder
// is the one of the start; without one the file stays in the temporary folder.
TEST_F(RecorderTest, FilesAreNeverReplacedAndTheFolderIsTheOneOfTheStart)
{
    std::vector<std::wstring> earlier;
    auto leave = [&earlier](const std::wstring& path) {
        WriteFileBytes(path, "earlier");
        earlier.push_back(path);
    };
    const time_t begin = time(nullptr);
    CreateDirectoryW(TempFolder().c_str(), nullptr);
    for (time_t t = begin; t <= begin + 60; t++) leave(TempFolder() + L"\\miru-" + std::to_wstring(static_cast<long long>(t)) + L".mp4");
    Start();
    SubmitFrame(1'000);
    WaitForWrites(1);
    // A folder chosen during the recording applies to the next one.
    const std::wstring chosenLater = recordings + L"\\Neu";
    CreateDirectoryW(chosenLater.c_str(), nullptr);
    wcscpy(Settings.recordingFolder, chosenLater.c_str());
    ResetEvent(sink.gate);
    RecordingRequestStop();
    ASSERT_TRUE(WaitUntil([] {
        std::lock_guard<std::mutex> hold(sink.mutex);
        return sink.finalizing == 1;
    }));
    // Held in Finalize: the dated names from the start until a minute after the release.
    for (time_t t = begin, until = time(nullptr) + 60; t <= until; t++) {
        tm local = *localtime(&t);
        wchar_t name[64];
        wcsftime(name, 64, L"\\MI-RU-%Y-%m-%d_%H-%M-%S.mp4", &local);
        leave(recordings + name);
    }
    SetEvent(sink.gate);
    ASSERT_TRUE(WaitUntil([] { return Ended() != nullptr; }));
    Posted ended = *Ended();
    EXPECT_EQ(ended.wParam, 1u);
    ASSERT_GT(ended.text.size(), 6u);
    EXPECT_EQ(ended.text.substr(ended.text.size() - 6), L"_2.mp4");
    const std::wstring unsuffixed = ended.text.substr(0, ended.text.size() - 6) + L".mp4";
    EXPECT_NE(std::find(earlier.begin(), earlier.end(), unsuffixed), earlier.end()) << "a name that was not taken";
    EXPECT_EQ(ReadFileBytes(ended.text), "movie");
    for (const std::wstring& path : earlier) EXPECT_EQ(ReadFileBytes(path), "earlier");
    EXPECT_TRUE(FilesIn(chosenLater).empty());
    for (const std::wstring& path : earlier) DeleteFileW(path.c_str());

    // No recording folder: saved under the temporary name, reported with its path.
    Settings.recordingFolder[0] = L'\0';
    posted.clear();
    Start();
    SubmitFrame(1'000);
    WaitForWrites(2);
    ended = StopAndWait();
    EXPECT_EQ(ended.wParam, 1u);
    EXPECT_EQ(ended.text.substr(0, TempFolder().size() + 6), TempFolder() + L"\\miru-");
    EXPECT_EQ(ReadFileBytes(ended.text), "movie");
    EXPECT_EQ(LogTexts(LOG_WARN).back(), L"Kein Aufnahmeordner gew\u00e4hlt \u2014 Datei bleibt im tempor\u00e4ren Ordner: " +
                                             ended.text.substr(TempFolder().size() + 1));
    DeleteFileW(ended.text.c_str());
}

}  // namespace
