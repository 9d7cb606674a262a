#include "capture/camera_control.h"

#include <objbase.h>

#include <atomic>
#include <span>

#include "base/app_messages.h"
#include "base/text_copy.h"
#include "app/texts.h"
#include "capture/capture_reader.h"
#include "capture/capture_state.h"
#include "capture/control_rules.h"
#include "capture/device_list.h"
#include "capture/device_rules.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "frames/stabilizer.h"
#include "record/recorder_calls.h"

namespace {

// Everything the control thread works with; touched by that thread only. A new thread starts
// from a cleared record.
struct ControlState {
    bool searching;
    uint64_t searchDue;
    int32_t searchAttempts;
    bool watchdogArmed;
    uint64_t watchdogDue;
    int32_t restartCount;
    bool widePresent;
    bool macroPresent;
    wchar_t wideName[CAPTURE_DISPLAY_NAME_CAPACITY];
    wchar_t macroName[CAPTURE_DISPLAY_NAME_CAPACITY];
    CaptureReader* wide;
    CaptureReader* macro;
    CaptureReader* microphone;
};
ControlState control;

// UI thread only: the thread and its wake-up event (the thread only waits on the event, which
// outlives it). A thread that did not end at a shutdown is left behind with everything it uses;
// until it has ended, no second thread may start on the same state.
HANDLE controlThread = nullptr;
HANDLE wakeEvent = nullptr;
bool threadLeftBehind = false;
std::atomic<uint32_t> commandBits{0};  // OR-ed by the UI thread, taken whole by the thread

uint64_t Now()
{
    return GetTickCount64();
}

// A lost camera keeps "Camera disconnected" on screen while the search waits for it to return;
// otherwise the first attempt, due at once, would replace the error with the neutral search
// status before anyone could see it.
void SetSearchingStatus()
{
    const uint32_t status = CaptureGetStatus();
    if (status != STATUS_LIVE && status != STATUS_DISCONNECTED) CaptureSetStatus(STATUS_SEARCHING);
}

// Stops all three readers and forgets the microphone's format and level.
void StopReaders()
{
    CaptureReaderStop(&control.wide);
    CaptureReaderStop(&control.macro);
    CaptureReaderStop(&control.microphone);
    CaptureDropAudioMediaType();
    CaptureResetMicLevel();
}

// After a failed check or a lost camera: everything down, the search armed again.
void TearDownForSearch(uint32_t status)
{
    StopReaders();
    control.watchdogArmed = false;
    CaptureSetLive(false);
    FrameClearPublished();
    CaptureSetStatus(status);
    CaptureBeginSearch();
}

// The microphone when one is bound and present; without it the cameras run without sound.
CaptureReader* OpenMicrophone(const wchar_t* id)
{
    if (id[0] == L'\0') return nullptr;
    CaptureDevice microphones[CAPTURE_LIST_CAPACITY];
    const int32_t count = CaptureListMicrophones(microphones, CAPTURE_LIST_CAPACITY);
    const int32_t found = DeviceFind(std::span<const CaptureDevice>(microphones, static_cast<size_t>(count)), id);
    if (found < 0) return nullptr;
    CaptureReader* reader = nullptr;
    CaptureMicrophoneOpen(microphones[found].id, microphones[found].displayName, &reader);
    return reader;
}

// One attempt to bring both cameras live.
void Configure()
{
    if (CaptureIsLive()) return;
    if (!CaptureStartMediaFoundation()) {
        control.widePresent = control.macroPresent = false;
        SetSearchingStatus();
        return;
    }
    const CaptureActiveIdSet& ids = CaptureActiveIds();
    CaptureDevice cameras[CAPTURE_LIST_CAPACITY];
    const int32_t count = CaptureListCameras(cameras, CAPTURE_LIST_CAPACITY);
    const std::span<const CaptureDevice> list(cameras, static_cast<size_t>(count));
    const int32_t wideIndex = DeviceFind(list, ids.wide);
    const int32_t macroIndex = DeviceFind(list, ids.macro);
    control.widePresent = wideIndex >= 0;
    control.macroPresent = macroIndex >= 0;
    if (wideIndex < 0 || macroIndex < 0 || wideIndex == macroIndex) {
        SetSearchingStatus();  // the search tries again
        return;
    }
    const CaptureDevice& wideDevice = cameras[wideIndex];
    const CaptureDevice& macroDevice = cameras[macroIndex];
    CopyTextCut(control.wideName, CAPTURE_DISPLAY_NAME_CAPACITY, wideDevice.displayName);
    CopyTextCut(control.macroName, CAPTURE_DISPLAY_NAME_CAPACITY, macroDevice.displayName);

    CaptureReader* wide = nullptr;
    CaptureReader* macro = nullptr;
    const bool wideOpened = CaptureReaderOpen(READER_ROLE_WIDE, wideDevice.id, wideDevice.displayName, &wide) == S_OK;
    const bool macroOpened = CaptureReaderOpen(READER_ROLE_MACRO, macroDevice.id, macroDevice.displayName, &macro) == S_OK;
    if (!wideOpened || !macroOpened) {
        CaptureReaderStop(&wide);
        CaptureReaderStop(&macro);
        CaptureSetStatus(STATUS_CAMERA_ERROR);
        LogWrite(LOG_ERROR, L"Video-Sessions konnten nicht konfiguriert werden");
        return;
    }
    CaptureReader* microphone = OpenMicrophone(ids.microphone);

    FrameClearPublished();
    StabRequestReset();
    const bool wideStarted = SUCCEEDED(CaptureReaderStart(wide));
    Sleep(static_cast<DWORD>(CaptureWaitMs(CONTROL_START_PAUSE_MS)));
    const bool macroStarted = wideStarted && SUCCEEDED(CaptureReaderStart(macro));
    if (!wideStarted || !macroStarted) {
        CaptureReaderStop(&wide);
        CaptureReaderStop(&macro);
        CaptureReaderStop(&microphone);
        CaptureDropAudioMediaType();
        CaptureSetStatus(STATUS_CAMERA_ERROR);
        LogWrite(LOG_ERROR, L"startRunning ohne Erfolg \u2014 Bild bleibt schwarz");
        return;  // still searching: the next attempt follows
    }
    if (microphone && FAILED(CaptureReaderStart(microphone))) {
        CaptureReaderStop(&microphone);
        CaptureDropAudioMediaType();
    }

    control.wide = wide;
    control.macro = macro;
    control.microphone = microphone;
    control.searching = false;
    CaptureSetLive(true);
    CaptureSetStatus(STATUS_LIVE);
    control.watchdogArmed = true;
    control.watchdogDue = Now() + CaptureWaitMs(CONTROL_NO_IMAGE_CHECK_MS);
    if (microphone) LogWrite(LOG_EVENT, L"2 Kameras live \u00b7 Mikrofon aktiv");
    else LogWrite(LOG_EVENT, L"2 Kameras live");
}

// Due some seconds after the cameras went live: a camera that has not published a single
// frame by then is restarted, at most three times in a row.
void CheckForImage()
{
    control.watchdogArmed = false;
    if (!CaptureIsLive()) return;
    Frame* wideFrame = FrameAcquireLatest(SLOT_WIDE);
    Frame* macroFrame = FrameAcquireLatest(SLOT_MACRO);
    const bool wideImage = wideFrame != nullptr;
    const bool macroImage = macroFrame != nullptr;
    FrameRelease(wideFrame);
    FrameRelease(macroFrame);
    switch (ControlNoImageVerdict(wideImage, macroImage, control.restartCount)) {
    case NoImageVerdict::Pass:
        control.restartCount = 0;
        break;
    case NoImageVerdict::GiveUp:
        CaptureSetStatus(STATUS_NO_IMAGE);
        LogWrite(LOG_ERROR,
                 L"Kamera liefert kein Bild (Wide:%d Macro:%d) \u2014 bitte USB-Verbindung/Hub pr\u00fcfen und neu starten (\u21bb).",
                 wideImage ? 1 : 0, macroImage ? 1 : 0);
        break;
    case NoImageVerdict::Restart:
        ++control.restartCount;
        LogWrite(LOG_WARN, L"Kamera ohne Bild (Wide:%d Macro:%d) \u2014 automatischer Neustart %d/3", wideImage ? 1 : 0,
                 macroImage ? 1 : 0, control.restartCount);
        TearDownForSearch(STATUS_RESTARTING);
        break;
    }
}

// After a device-change notification: a bound camera that went away ends the sessions; both
// bound cameras present while not live start a search.
void CheckDevices()
{
    const CaptureActiveIdSet& ids = CaptureActiveIds();
    CaptureDevice cameras[CAPTURE_LIST_CAPACITY];
    int32_t count = 0;
    if (CaptureStartMediaFoundation()) count = CaptureListCameras(cameras, CAPTURE_LIST_CAPACITY);
    const std::span<const CaptureDevice> list(cameras, static_cast<size_t>(count));
    const int32_t wideIndex = DeviceFind(list, ids.wide);
    const int32_t macroIndex = DeviceFind(list, ids.macro);

    if (CaptureIsLive()) {
        const int32_t lost = ControlLostCamera(ids.wide[0] != L'\0', wideIndex >= 0, ids.macro[0] != L'\0', macroIndex >= 0);
        if (lost >= 0) {
            LogWrite(LOG_ERROR, L"Kamera getrennt: %ls \u2014 USB-Verbindung/Hub pr\u00fcfen",
                     lost == 0 ? control.wideName : control.macroName);
            if (RecorderInUse().isActive()) CapturePost(WM_APP_STOP_RECORDING, 0);
            TearDownForSearch(STATUS_DISCONNECTED);  // the search waits for the camera to return
        }
    } else {
        if (wideIndex >= 0 && !control.widePresent)
            LogWrite(LOG_EVENT, L"Kamera angeschlossen: %ls", cameras[wideIndex].displayName);
        if (macroIndex >= 0 && !control.macroPresent)
            LogWrite(LOG_EVENT, L"Kamera angeschlossen: %ls", cameras[macroIndex].displayName);
        if (wideIndex >= 0 && macroIndex >= 0 && wideIndex != macroIndex) CaptureBeginSearch();
    }
    control.widePresent = wideIndex >= 0;
    control.macroPresent = macroIndex >= 0;
}

// Stop command and quit.
void StopSessions()
{
    const bool wasLive = CaptureIsLive();
    const bool anything = wasLive || control.searching || control.wide || control.macro || control.microphone;
    control.searching = false;
    control.watchdogArmed = false;
    control.restartCount = 0;
    StopReaders();
    CaptureSetLive(false);
    FrameClearPublished();
    if (anything) CaptureSetStatus(STATUS_STOPPED);
    if (wasLive) LogWrite(LOG_EVENT, L"Kamera-Sessions gestoppt");
}

// A due configuration attempt of the running search.
void SearchStep(uint64_t now)
{
    if (CaptureIsLive()) {
        control.searching = false;
        return;
    }
    Configure();
    ++control.searchAttempts;
    if (control.searchAttempts >= CONTROL_SEARCH_ATTEMPTS) {
        control.searching = false;
        if (!CaptureIsLive()) {
            CaptureSetStatus(STATUS_NO_CAMERAS);
            LogWrite(LOG_WARN, L"Kameras nicht erkannt \u2014 beide anstecken; bei Bedarf neu starten.");
        }
    } else if (control.searching) {
        control.searchDue = now + CaptureWaitMs(CONTROL_SEARCH_STEP_MS);
    }
}

DWORD WINAPI ControlThread(void*)
{
    control = ControlState{};
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (;;) {
        const uint64_t wait =
            ControlWaitMs(Now(), control.searching, control.searchDue, control.watchdogArmed, control.watchdogDue);
        if (wait != 0)
            WaitForSingleObject(wakeEvent, wait >= INFINITE ? INFINITE : static_cast<DWORD>(wait));
        const uint32_t commands = commandBits.exchange(0);
        if (commands & CONTROL_CMD_QUIT) {
            StopSessions();
            break;
        }
        if (commands & CONTROL_CMD_STOP) StopSessions();
        if (commands & CONTROL_CMD_START) CaptureResolveDeviceIds();
        if (commands & CONTROL_CMD_DEVICES) CheckDevices();
        const uint64_t now = Now();
        if (control.searching && now >= control.searchDue) SearchStep(now);
        if (control.watchdogArmed && now >= control.watchdogDue) CheckForImage();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

// Whether a thread left behind at a shutdown still runs; one that has ended since is forgotten.
bool LeftBehindThreadRuns()
{
    if (!threadLeftBehind) return false;
    if (WaitForSingleObject(controlThread, 0) != WAIT_OBJECT_0) return true;
    CloseHandle(controlThread);
    controlThread = nullptr;
    threadLeftBehind = false;
    return false;
}

bool StartThread()
{
    if (LeftBehindThreadRuns()) {
        LogWrite(LOG_ERROR, L"Kamera-Steuerthread h\u00e4ngt noch \u2014 Kameras k\u00f6nnen nicht gestartet werden");
        return false;
    }
    if (controlThread) return true;
    if (!CaptureStartMediaFoundation()) return false;
    if (!wakeEvent) wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    commandBits.store(0);  // a quit that a thread left behind never took is not for the new one
    if (wakeEvent) controlThread = CreateThread(nullptr, 0, ControlThread, nullptr, 0, nullptr);
    if (controlThread) return true;
    LogWrite(LOG_ERROR, L"Kamera-Steuerthread konnte nicht gestartet werden");
    return false;
}

void SendCommand(uint32_t command)
{
    commandBits.fetch_or(command);
    SetEvent(wakeEvent);
}

}  // namespace

void CaptureBeginSearch()
{
    control.searchAttempts = 0;
    if (CaptureIsLive() || control.searching) return;
    control.searching = true;
    control.searchDue = Now();
}

void CaptureInit(HWND notifyWindow)
{
    CaptureSetNotifyWindow(notifyWindow);
    CaptureSetPipFraction(0.3f);
    if (!StartThread()) LogWrite(LOG_ERROR, L"Kamera-Steuerung konnte nicht initialisiert werden");
}

void CaptureStart()
{
    if (!StartThread()) {
        CaptureSetStatus(STATUS_CAMERA_ERROR);
        return;
    }
    SendCommand(CONTROL_CMD_START);
}

void CaptureStop()
{
    if (controlThread && !threadLeftBehind) SendCommand(CONTROL_CMD_STOP);
}

void CaptureDevicesChanged()
{
    if (controlThread && !threadLeftBehind) SendCommand(CONTROL_CMD_DEVICES);
}

bool CaptureShutdown()
{
    if (LeftBehindThreadRuns()) return false;  // everything it uses stays, as when it was left behind
    if (controlThread) {
        SendCommand(CONTROL_CMD_QUIT);
        if (WaitForSingleObject(controlThread, static_cast<DWORD>(CaptureWaitMs(CONTROL_SHUTDOWN_WAIT_MS))) != WAIT_OBJECT_0) {
            // The thread may still wait on the wake event and run readers on Media Foundation:
            // the event, the thread handle, its readers and Media Foundation are kept (leaked
            // when the process ends first) rather than pulled away under it.
            LogWrite(LOG_WARN, L"Kamera-Steuerthread reagiert nicht \u2014 Beenden ohne Aufr\u00e4umen");
            threadLeftBehind = true;
            return false;
        }
        CloseHandle(controlThread);
        controlThread = nullptr;
    }
    if (wakeEvent) {
        CloseHandle(wakeEvent);
        wakeEvent = nullptr;
    }
    CaptureDropAudioMediaType();
    CaptureStopMediaFoundation();
    return true;
}
