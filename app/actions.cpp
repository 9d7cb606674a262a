#include "app/actions.h"

#include <cstdlib>

#include "base/app_messages.h"
#include "base/text_copy.h"
#include "app/main_window.h"
#include "app/recording_flow.h"
#include "app/texts.h"
#include "base/ui_state.h"
#include "capture/camera_control.h"
#include "capture/device_list.h"
#include "diag/log.h"
#include "frames/stabilizer.h"
#include "record/free_space_text.h"
#include "record/recorder_calls.h"
#include "record/recording_folder.h"
#include "record/snapshot.h"
#include "render/cockpit_input.h"
#include "render/watermark.h"
#include "settings/settings_store.h"

namespace {

constexpr UINT RECORD_CLOCK_MS = 1000;
constexpr UINT CAMERA_RESTART_MS = 300;
constexpr float PHOTO_FLASH = 0.75f;
constexpr UINT NOTICE_MS = 4000;

void SyncRecordingFlag()
{
    UiState.recording = RecordingFlowIsRecording(MainWindow.recordingFlow);
}

// The recorder start of ToggleRecording: size, overlay and sound from the settings.
void StartRecorder()
{
    UiState.recordSeconds = 0;
    const int32_t width = Settings.resolutionHigh ? 2560 : 1920;
    const int32_t height = Settings.resolutionHigh ? 1440 : 1080;
    uint8_t* overlay = WatermarkBuildOverlay(width, height, Settings.watermarkOn ? Settings.praxisText : nullptr);
    const bool withSound = !UiState.micMuted && Settings.micDeviceID[0] != L'\0';
    const wchar_t* error = RecorderInUse().start(width, height, withSound, overlay, width, height);
    free(overlay);  // the recorder keeps its own copy

    const uint32_t effects = RecordingFlowStarted(MainWindow.recordingFlow, error == nullptr);
    SyncRecordingFlag();
    if (error == nullptr) {
        if (HWND window = AppWindow()) SetTimer(window, TIMER_RECORD_CLOCK, RECORD_CLOCK_MS, nullptr);
        LogWrite(LOG_EVENT, L"Aufnahme l\u00e4uft (%d\u00d7%d, Audio: %ls)", width, height,
                 withSound ? L"an" : L"aus");
    } else {
        UiState.status = STATUS_RECORDING_ERROR;
        LogWrite(LOG_ERROR, L"Aufnahme-Start fehlgeschlagen: %ls", error);
    }
    ApplyRecordingEffects(AppWindow(), effects);
}

// The stop has not ended in time: the writer may be stuck (a drive that does not answer, a
// graphics driver that hangs). The file in the temporary folder keeps its recovery marker, so
// the user may close now and loses nothing.
void TellStopOverdue()
{
    LogWrite(LOG_WARN, L"Aufnahme endet nicht innerhalb von %u s \u2014 sie wird weiter abgeschlossen",
             RECORDING_STOP_PATIENCE_MS / 1000);
    UiStateSetStatusDetail(PickText(L"Aufnahme wird noch abgeschlossen \u00b7 Beim Beenden jetzt: "
                                    L"Wiederherstellung beim n\u00e4chsten Start",
                                    L"Recording is still being finished \u00b7 If closed now: recovered at the "
                                    L"next start"));
    CockpitShow();
}

void AskCloseNow(HWND window)
{
    const int answer = MainWindowMessageBox(
        window,
        PickText(L"Die Aufnahme wird noch abgeschlossen. Wenn MI-RU jetzt beendet wird, wird sie beim "
                 L"n\u00e4chsten Start wiederhergestellt.\n\nMI-RU jetzt beenden?",
                 L"The recording is still being finished. If MI-RU is closed now, the recording will be "
                 L"recovered at the next start.\n\nClose MI-RU now?"),
        MB_YESNO | MB_ICONWARNING);
    if (answer == IDYES) ApplyRecordingEffects(window, RecordingFlowCloseNow(MainWindow.recordingFlow));
}

}  // namespace

void ApplyRecordingEffects(HWND window, uint32_t effects)
{
    SyncRecordingFlag();
    if (effects & FLOW_LOG_CLOSING)
        LogWrite(LOG_EVENT, L"Beenden: Aufnahme wird abgeschlossen und gespeichert\u2026");
    if (effects & FLOW_REQUEST_STOP) {
        RecorderInUse().requestStop();
        if (window) SetTimer(window, TIMER_STOP_OVERDUE, RECORDING_STOP_PATIENCE_MS, nullptr);
    }
    if (effects & FLOW_SHOW_COCKPIT) CockpitShow();
    if (effects & FLOW_TELL_STOP_OVERDUE) TellStopOverdue();
    if (effects & FLOW_LOG_CLOSE_UNFINISHED)
        LogWrite(LOG_WARN, L"Beenden vor dem Ende der Aufnahme \u2014 sie wird beim n\u00e4chsten Start "
                           L"wiederhergestellt");
    // A window destroyed meanwhile (a box answered after the end arrived) is not destroyed twice.
    if ((effects & FLOW_DESTROY_WINDOW) && window && IsWindow(window)) DestroyWindow(window);
    if ((effects & FLOW_ASK_CLOSE_NOW) && window) AskCloseNow(window);
}

int MainWindowMessageBox(HWND window, const wchar_t* text, UINT type)
{
    RecordingFlowBoxOpened(MainWindow.recordingFlow);
    const int answer = MessageBoxW(window, text, L"MI-RU", type);
    ApplyRecordingEffects(window, RecordingFlowBoxClosed(MainWindow.recordingFlow));
    return answer;
}

void ShowNotice(const wchar_t* text)
{
    CopyTextCut(UiState.notice, UI_NOTICE_CAPACITY, text);
    if (HWND window = AppWindow()) SetTimer(window, TIMER_NOTICE, NOTICE_MS, nullptr);
    CockpitShow();
}

void ToggleRecording()
{
    const uint32_t effects = RecordingFlowToggle(MainWindow.recordingFlow, UiState.live);
    if (effects & FLOW_START_RECORDER) {
        StartRecorder();
        return;
    }
    ApplyRecordingEffects(AppWindow(), effects);
}

void TakePhoto()
{
    if (!UiState.live) return;
    // The flash confirms photos only when they are being taken; a refused press says why.
    switch (SnapshotRequest()) {
    case SnapshotResult::Started: UiState.photoFlash = PHOTO_FLASH; break;
    case SnapshotResult::Busy:
        ShowNotice(PickText(L"Fotos werden noch gespeichert", L"Photos are still being saved"));
        break;
    case SnapshotResult::NoPicture:
        ShowNotice(PickText(L"Kein Foto \u2014 noch kein Live-Bild", L"No photo \u2014 no live picture yet"));
        break;
    case SnapshotResult::Failed:
        ShowNotice(PickText(L"Foto fehlgeschlagen \u2014 siehe Diagnose", L"Photo failed \u2014 see diagnostics"));
        break;
    }
    CockpitShow();
}

void ToggleStabilisation()
{
    Settings.stabilizeMacro = !Settings.stabilizeMacro;
    SettingsSave();
    StabSetEnabled(Settings.stabilizeMacro);
    CockpitShow();
}

void ToggleMute()
{
    UiState.micMuted = !UiState.micMuted;
    CockpitShow();
}

void OpenRecordingFolder()
{
    if (Settings.recordingFolder[0] != L'\0') OpenFolderInExplorer(Settings.recordingFolder);
}

void SwapCameras()
{
    CameraSwapRoles();
    RestartCameras();
    CockpitShow();
}

void RestartCameras()
{
    ApplyRecordingEffects(AppWindow(), RecordingFlowRequestStop(MainWindow.recordingFlow));
    CaptureStop();
    if (HWND window = AppWindow()) SetTimer(window, TIMER_CAMERA_RESTART, CAMERA_RESTART_MS, nullptr);
    else CaptureStart();
}

void ToggleFullScreen(HWND window)
{
    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    if (!MainWindow.fullScreen) {
        MainWindow.savedPlacement.length = sizeof(WINDOWPLACEMENT);
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        if (GetWindowPlacement(window, &MainWindow.savedPlacement) &&
            GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
            SetWindowLongPtrW(window, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_OVERLAPPEDWINDOW));
            const RECT& r = monitor.rcMonitor;  // the whole monitor, not the work area
            SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
            MainWindow.fullScreen = true;
        }
    } else {
        SetWindowLongPtrW(window, GWL_STYLE, style | WS_OVERLAPPEDWINDOW);
        SetWindowPlacement(window, &MainWindow.savedPlacement);
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
        MainWindow.fullScreen = false;
    }
    CockpitShow();
}

void RefreshFreeSpaceText()
{
    UiState.freeSpaceText[0] = L'\0';
    if (Settings.recordingFolder[0] == L'\0') return;
    const int64_t freeBytes = FreeBytesForCaller(Settings.recordingFolder);
    if (freeBytes < 0) return;
    FormatFreeSpaceText(freeBytes, Settings.resolutionHigh, UiState.freeSpaceText, UI_FREE_SPACE_CAPACITY);
}
