#include "app/main_window.h"

#include <dbt.h>
#include <windowsx.h>

#include "app/actions.h"
#include "base/app_messages.h"
#include "app/key_actions.h"
#include "app/session_end.h"
#include "app/texts.h"
#include "base/ui_state.h"
#include "capture/camera_control.h"
#include "capture/capture_state.h"
#include "capture/device_list.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "record/recorder_calls.h"
#include "render/cockpit_input.h"
#include "render/renderer.h"
#include "settings/settings_store.h"
#include "settings/settings_window.h"

MainWindowState MainWindow;

namespace {

constexpr int32_t START_CLIENT_WIDTH = 1280;
constexpr int32_t START_CLIENT_HEIGHT = 800;
constexpr int32_t MIN_CLIENT_WIDTH = 900;
constexpr int32_t MIN_CLIENT_HEIGHT = 560;
constexpr int32_t FRAME_TICKS_PER_PERIOD = 30;

// What the cockpit's buttons run; registered when the window is made.
constexpr CockpitActions cockpitActions = {
    ToggleRecording, TakePhoto, ToggleStabilisation, ToggleMute, [] { OpenSettings(AppWindow()); }, RestartCameras,
};

bool KeyHeld(int virtualKey)
{
    return GetKeyState(virtualKey) < 0;
}

UINT DpiOrDefault(UINT dpi)
{
    return dpi == 0 ? USER_DEFAULT_SCREEN_DPI : dpi;
}

// Returns whether the key was a shortcut; the others go to DefWindowProcW.
bool HandleKey(HWND window, WPARAM virtualKey, LPARAM flags)
{
    const bool repeated = (flags & (1L << 30)) != 0;  // the key was already down
    const KeyCommand command =
        KeyCommandFor(static_cast<uint32_t>(virtualKey), KeyHeld(VK_CONTROL), KeyHeld(VK_SHIFT), repeated);
    switch (command.action) {
    case KeyAction::None: return false;
    case KeyAction::ToggleFullScreen: ToggleFullScreen(window); break;
    case KeyAction::ToggleRecording: ToggleRecording(); break;
    case KeyAction::TakePhoto: TakePhoto(); break;
    case KeyAction::ToggleMute: ToggleMute(); break;
    case KeyAction::ToggleStabilisation: ToggleStabilisation(); break;
    case KeyAction::SwapCameras: SwapCameras(); break;
    case KeyAction::SetPipSize:
    case KeyAction::ChangePipSize: CockpitSetPipSize(PipSizeRequested(command, UiState.pipSize)); break;
    case KeyAction::OpenSettings: OpenSettings(window); break;
    case KeyAction::OpenRecordingFolder: OpenRecordingFolder(); break;
    }
    return true;
}

void HandleTimer(HWND window, WPARAM id)
{
    switch (id) {
    case TIMER_FRAME:
        if (++MainWindow.frameTickCount >= FRAME_TICKS_PER_PERIOD) {
            MainWindow.frameTickCount = 0;
            uint32_t counts[2] = {0, 0};
            FrameTakePublishCounts(counts);
            UiState.framesWide = counts[SLOT_WIDE];
            UiState.framesMacro = counts[SLOT_MACRO];
            UiState.framesRecorded = UiState.recording
                                         ? static_cast<uint32_t>(RecorderInUse().takeWrittenCount())
                                         : UI_FRAMES_NOT_RECORDING;
        }
        if (MainWindow.rendererReady) RendererDrawFrame();
        break;
    case TIMER_COCKPIT_HIDE:
        KillTimer(window, TIMER_COCKPIT_HIDE);
        // The bars stay while a recording runs; the next input re-arms the timer.
        if (!UiState.recording) UiState.cockpitVisible = false;
        break;
    case TIMER_RECORD_CLOCK:
        UiState.recordSeconds++;
        break;
    case TIMER_FREE_SPACE:
        RefreshFreeSpaceText();
        break;
    case TIMER_CAMERA_RESTART:
        KillTimer(window, TIMER_CAMERA_RESTART);
        CaptureStart();
        break;
    case TIMER_NOTICE:
        KillTimer(window, TIMER_NOTICE);
        UiState.notice[0] = L'\0';
        break;
    case TIMER_STOP_OVERDUE:
        KillTimer(window, TIMER_STOP_OVERDUE);
        ApplyRecordingEffects(window, RecordingFlowStopOverdue(MainWindow.recordingFlow));
        break;
    default:
        break;
    }
}

void HandleRecordingEnded(HWND window, WPARAM success, LPARAM text)
{
    const uint32_t effects = RecordingFlowEnded(MainWindow.recordingFlow);
    UiState.recording = false;
    KillTimer(window, TIMER_RECORD_CLOCK);
    KillTimer(window, TIMER_STOP_OVERDUE);
    UiStateSetStatusDetail(nullptr);
    if (!success) {
        UiState.status = STATUS_RECORDING_ERROR;
        const wchar_t* reason = text ? reinterpret_cast<const wchar_t*>(text) : L"unbekannter Fehler";
        LogWrite(LOG_ERROR, L"Aufnahme fehlgeschlagen: %ls", reason);
    }
    FreeAppMessageText(text);
    ApplyRecordingEffects(window, effects);
}

void HandleStatusDetail(LPARAM text)
{
    UiStateSetStatusDetail(reinterpret_cast<const wchar_t*>(text));  // cut at 95 characters
    FreeAppMessageText(text);
}

void HandleWarning(HWND window, LPARAM text)
{
    if (!text) return;
    // The box runs a modal loop; the text stays ours until it returns.
    MainWindowMessageBox(window, reinterpret_cast<const wchar_t*>(text), MB_OK | MB_ICONWARNING);
    FreeAppMessageText(text);
}

void HandleDeviceChange(WPARAM event)
{
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE && event != DBT_DEVNODES_CHANGED)
        return;
    CaptureDevicesChanged();
    // An open settings window refreshes its camera and microphone lists at once.
    if (HWND settings = FindWindowW(L"MIRU_SETTINGS", nullptr))
        PostMessageW(settings, WM_APP_DEVICES_CHANGED, 0, 0);
}

void HandleMinMaxInfo(HWND window, MINMAXINFO* info)
{
    const SIZE minimum = MainWindowSizeForClient(MIN_CLIENT_WIDTH, MIN_CLIENT_HEIGHT, GetDpiForWindow(window));
    info->ptMinTrackSize.x = minimum.cx;
    info->ptMinTrackSize.y = minimum.cy;
}

void HandleMouseMove(HWND window, LPARAM position)
{
    if (!MainWindow.mouseTracking) {
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = window;
        track.dwHoverTime = 0;
        if (TrackMouseEvent(&track)) MainWindow.mouseTracking = true;
    }
    RECT client = {};
    GetClientRect(window, &client);
    CockpitMouseMove(static_cast<float>(GET_X_LPARAM(position)), static_cast<float>(GET_Y_LPARAM(position)),
                     static_cast<float>(client.right), static_cast<float>(client.bottom));
}

void HandleMouseDown(HWND window, LPARAM position)
{
    RECT client = {};
    GetClientRect(window, &client);
    CockpitMouseDown(static_cast<float>(GET_X_LPARAM(position)), static_cast<float>(GET_Y_LPARAM(position)),
                     static_cast<float>(client.right), static_cast<float>(client.bottom));
    if (UiState.sliderDrag) {
        SetCapture(window);
        MainWindow.mouseCaptured = true;
    }
}

// Messages still queued for a destroyed window are never delivered: free the texts they
// carry. Workers post nothing any more once AppWindow() is cleared.
void DropQueuedTexts(HWND window)
{
    MSG message;
    while (PeekMessageW(&message, window, WM_APP_RECORDING_ENDED, WM_APP_STATUS_DETAIL, PM_REMOVE))
        FreeAppMessageText(message.lParam);
}

// Application shutdown: cameras stopped (and waited for) before the renderer goes and the
// settings are saved.
void HandleDestroy(HWND window)
{
    const UINT_PTR timers[] = {TIMER_FRAME,          TIMER_COCKPIT_HIDE, TIMER_RECORD_CLOCK, TIMER_FREE_SPACE,
                               TIMER_CAMERA_RESTART, TIMER_NOTICE,       TIMER_STOP_OVERDUE};
    for (UINT_PTR id : timers) KillTimer(window, id);
    if (MainWindow.deviceNotification) {
        UnregisterDeviceNotification(MainWindow.deviceNotification);
        MainWindow.deviceNotification = nullptr;
    }
    // From here on workers post nothing (capture's reports included) and the log does not
    // notify: the stop of the cameras below reports to no one.
    SetAppWindow(nullptr);
    CaptureSetNotifyWindow(nullptr);
    CaptureShutdown();
    RendererShutdown();
    MainWindow.rendererReady = false;
    SettingsSave();
    DropQueuedTexts(window);
    PostQuitMessage(0);
}

}  // namespace

SIZE MainWindowSizeForClient(int32_t width, int32_t height, UINT dpi)
{
    dpi = DpiOrDefault(dpi);
    RECT rect = {0, 0, MulDiv(width, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI),
                 MulDiv(height, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI)};
    AdjustWindowRectExForDpi(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

bool MainWindowRegisterClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(MAIN_ICON_ID));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    if (RegisterClassExW(&windowClass)) return true;
    LogWrite(LOG_ERROR, L"Hauptfenster-Klasse konnte nicht registriert werden (Fehler %lu)", GetLastError());
    return false;
}

HWND MainWindowCreate(HINSTANCE instance)
{
    const SIZE size = MainWindowSizeForClient(START_CLIENT_WIDTH, START_CLIENT_HEIGHT, GetDpiForSystem());
    HWND window = CreateWindowExW(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance, nullptr);
    if (!window)
        LogWrite(LOG_ERROR, L"Hauptfenster konnte nicht erstellt werden (Fehler %lu)", GetLastError());
    return window;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        MainWindow = MainWindowState{};
        SetAppWindow(window);
        CockpitSetActions(&cockpitActions);
        return 0;
    case WM_DESTROY:
        HandleDestroy(window);
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED && MainWindow.rendererReady) RendererResize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        if (MainWindow.rendererReady) RendererDrawFrame();
        return 0;
    }
    case WM_CLOSE:
        ApplyRecordingEffects(window, RecordingFlowClose(MainWindow.recordingFlow));
        return 0;
    case WM_QUERYENDSESSION:
        return SessionEndQuery(window);
    case WM_ENDSESSION:
        SessionEndConfirmed(window, wParam != FALSE);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_GETMINMAXINFO:
        HandleMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_KEYDOWN:
        if (HandleKey(window, wParam, lParam)) return 0;
        break;
    case WM_TIMER:
        HandleTimer(window, wParam);
        return 0;
    case WM_MOUSEMOVE:
        HandleMouseMove(window, lParam);
        return 0;
    case WM_LBUTTONDOWN:
        HandleMouseDown(window, lParam);
        return 0;
    case WM_LBUTTONUP:
        CockpitMouseUp();
        if (MainWindow.mouseCaptured) {
            MainWindow.mouseCaptured = false;
            ReleaseCapture();
        }
        return 0;
    case WM_MOUSEWHEEL:
        CockpitWheel(static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)) / WHEEL_DELTA);
        return 0;
    case WM_CAPTURECHANGED:
        MainWindow.mouseCaptured = false;
        UiState.sliderDrag = false;
        return 0;
    case WM_MOUSELEAVE:
        MainWindow.mouseTracking = false;
        return 0;
    case WM_DEVICECHANGE:
        HandleDeviceChange(wParam);
        return TRUE;
    case WM_DPICHANGED: {
        UiState.dpiScale = static_cast<float>(HIWORD(wParam)) / USER_DEFAULT_SCREEN_DPI;
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_APP_STATUS:
        UiState.status = static_cast<uint32_t>(wParam);
        return 0;
    case WM_APP_LIVE:
        UiState.live = wParam != 0;
        return 0;
    case WM_APP_RECORDING_ENDED:
        HandleRecordingEnded(window, wParam, lParam);
        return 0;
    case WM_APP_WARNING:
        HandleWarning(window, lParam);
        return 0;
    case WM_APP_STATUS_DETAIL:
        HandleStatusDetail(lParam);
        return 0;
    case WM_APP_DEVICES_CHANGED:
        return 0;
    case WM_APP_LOG_CHANGED:
        if (HWND diagnostics = FindWindowW(L"MIRU_DIAG", nullptr))
            PostMessageW(diagnostics, WM_APP_LOG_CHANGED, 0, 0);
        return 0;
    case WM_APP_RESTART_CAMERAS:
        RestartCameras();
        return 0;
    case WM_APP_STOP_RECORDING:
        ApplyRecordingEffects(window, RecordingFlowRequestStop(MainWindow.recordingFlow));
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
