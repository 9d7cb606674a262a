#include "app/startup.h"

#include <commctrl.h>
#include <dbt.h>
#include <mfapi.h>
#include <objbase.h>

#include "app/actions.h"
#include "base/app_messages.h"
#include "app/main_window.h"
#include "base/text_copy.h"
#include "app/texts.h"
#include "base/ui_state.h"
#include "base/win_owners.h"
#include "capture/camera_control.h"
#include "diag/crash_dump.h"
#include "diag/log.h"
#include "frames/stabilizer.h"
#include "record/recorder.h"
#include "record/recording_folder.h"
#include "record/recording_recovery.h"
#include "record/snapshot.h"
#include "render/cockpit_input.h"
#include "render/renderer.h"
#include "settings/onboarding.h"
#include "settings/settings_store.h"

namespace {

struct ComScope {
    HRESULT result;
    ~ComScope()
    {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

struct MediaFoundationScope {
    HRESULT result;
    ~MediaFoundationScope()
    {
        if (SUCCEEDED(result)) MFShutdown();
    }
};

constexpr wchar_t SINGLE_INSTANCE_MUTEX[] = L"MIRU-Windows-SingleInstance";
constexpr UINT FRAME_PERIOD_MS = 33;
constexpr UINT FREE_SPACE_PERIOD_MS = 15000;
constexpr uint32_t RECORDING_SHUTDOWN_WAIT_MS = 30000;
// The user closed without waiting for a stop that did not end: the writer is stuck.
constexpr uint32_t ABANDONED_RECORDING_WAIT_MS = 2000;
constexpr uint32_t PHOTO_SHUTDOWN_WAIT_MS = 10000;
constexpr uint32_t RECOVERY_SHUTDOWN_WAIT_MS = 10000;
constexpr DWORD COMMON_CONTROL_CLASSES =
    ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS;

#ifdef MIRU_TEST_HOOKS
const AppStartupHooks* hooks = nullptr;

bool RunOnboarding()
{
    return hooks && hooks->onboardingRun ? hooks->onboardingRun() : OnboardingRun();
}

bool InitRenderer(HWND window)
{
    return hooks && hooks->rendererInit ? hooks->rendererInit(window) : RendererInit(window);
}
#else
bool RunOnboarding()
{
    return OnboardingRun();
}

bool InitRenderer(HWND window)
{
    return RendererInit(window);
}
#endif

// Raises the running instance's main window (restored when minimised). True when another
// instance owns the mutex: this process then ends without touching settings or log.
bool AnotherInstanceRuns(HANDLE mutex, DWORD createError)
{
    if (!mutex || createError != ERROR_ALREADY_EXISTS) return false;
    if (HWND existing = FindWindowW(MAIN_WINDOW_CLASS, nullptr)) {
        if (IsIconic(existing)) ShowWindow(existing, SW_RESTORE);
        SetForegroundWindow(existing);
    }
    return true;
}

// GetProcAddress result as the function type it is (through void(*)() so that the cast does
// not trip over the generic FARPROC signature).
template <typename Function>
Function LookUp(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Per-monitor awareness: the V2 context where it exists, then the Windows 8.1 call, then
// system awareness. The first that succeeds wins.
void SetDpiAwareness()
{
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    using SetAwarenessFn = HRESULT(WINAPI*)(int);
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        auto setContext = LookUp<SetContextFn>(user32, "SetProcessDpiAwarenessContext");
        if (setContext && setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) return;
    }
    if (HMODULE shcore = LoadLibraryW(L"shcore.dll")) {
        auto setAwareness = LookUp<SetAwarenessFn>(shcore, "SetProcessDpiAwareness");
        const bool done = setAwareness && setAwareness(2 /* PROCESS_PER_MONITOR_DPI_AWARE */) >= 0;
        FreeLibrary(shcore);  // the awareness is a process setting; the module is not needed after
        if (done) return;
    }
    SetProcessDPIAware();
}

void RegisterForDeviceNotifications(HWND window)
{
    static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the filter is 32 bytes");
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};  // all-zero class GUID, empty name
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    MainWindow.deviceNotification = RegisterDeviceNotificationW(
        window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    if (!MainWindow.deviceNotification)
        LogWrite(LOG_WARN, L"Ger\u00e4te-Benachrichtigungen nicht verf\u00fcgbar (Hot-Plug eingeschr\u00e4nkt)");
}

// A stored recording folder that is not reachable (an external drive removed) is offered
// for a new choice before the cameras start.
void CheckRecordingFolder(HWND window)
{
    if (Settings.recordingFolder[0] == L'\0' || FolderExists(Settings.recordingFolder)) return;
    LogWrite(LOG_WARN, L"Aufnahmeordner nicht erreichbar (externe Platte entfernt?)");
    const wchar_t* text = PickText(
        L"Der gew\u00e4hlte Aufnahmeordner ist nicht erreichbar \u2014 vermutlich wurde eine externe Festplatte "
        L"entfernt. Bitte einen neuen Ordner w\u00e4hlen, sonst k\u00f6nnen Aufnahmen nicht gespeichert "
        L"werden.\n\nJetzt einen neuen Ordner w\u00e4hlen?",
        L"The chosen recording folder is not reachable \u2014 an external drive was probably removed. "
        L"Please choose a new folder, otherwise recordings cannot be saved.\n\nChoose a new folder now?");
    const wchar_t* caption = PickText(L"Aufnahmeordner nicht gefunden", L"Recording folder not found");
    if (MessageBoxW(window, text, caption, MB_YESNO | MB_ICONWARNING) != IDYES) return;
    wchar_t chosen[SETTINGS_FOLDER_CAPACITY];
    if (!PickRecordingFolder(window, chosen, SETTINGS_FOLDER_CAPACITY)) return;
    CopyTextCut(Settings.recordingFolder, SETTINGS_FOLDER_CAPACITY, chosen);
    SettingsSave();
}

void ReportRendererFailure()
{
    LogWrite(LOG_ERROR, L"Renderer konnte nicht initialisiert werden \u2014 App wird beendet");
    MessageBoxW(nullptr,
                PickText(L"Die Grafikausgabe konnte nicht initialisiert werden. Bitte Grafiktreiber "
                         L"aktualisieren und die App erneut starten.",
                         L"Graphics output could not be initialized. Please update the graphics driver "
                         L"and start the app again."),
                L"MI-RU", MB_OK | MB_ICONERROR);
}

int RunMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The secondary windows (settings, diagnostics) take Tab, arrows and Esc as dialogs do;
        // the main window keeps every key for its shortcuts.
        HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (root && root != AppWindow() && IsDialogMessageW(root, &message)) continue;
#ifdef MIRU_TEST_HOOKS
        if (message.message == WM_APP_TEST_CRASH) {
            if (message.wParam <= static_cast<WPARAM>(CrashKind::Terminate))
                CrashDumpCrashForTest(static_cast<CrashKind>(message.wParam));
            continue;
        }
#endif
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

// From the first-run wizard to the end of the message loop; the exit code.
int RunApplication(HINSTANCE instance, int showCommand)
{
    while (!Settings.didCompleteOnboarding) {
        if (!RunOnboarding()) return 0;
    }
    if (!MainWindowRegisterClass(instance)) return 1;
    HWND window = MainWindowCreate(instance);
    if (!window) return 1;

    MainWindow.rendererReady = InitRenderer(window);
    if (!MainWindow.rendererReady) {
        ReportRendererFailure();
        DestroyWindow(window);  // runs the shutdown of WM_DESTROY, settings save included
        return 1;
    }

    UiStateReset();
    UiState.dpiScale = static_cast<float>(GetDpiForWindow(window)) / USER_DEFAULT_SCREEN_DPI;
    CaptureInit(window);
    RegisterForDeviceNotifications(window);
    StabSetEnabled(Settings.stabilizeMacro);
    ShowWindow(window, showCommand != 0 ? showCommand : SW_SHOW);
    UpdateWindow(window);
    CheckRecordingFolder(window);
    RecoveryStartInBackground();  // once the recording folder is settled
    CaptureStart();
    RefreshFreeSpaceText();
    SetTimer(window, TIMER_FRAME, FRAME_PERIOD_MS, nullptr);
    SetTimer(window, TIMER_FREE_SPACE, FREE_SPACE_PERIOD_MS, nullptr);
    CockpitShow();
    return RunMessageLoop();
}

}  // namespace

#ifdef MIRU_TEST_HOOKS
void AppSetStartupHooksForTest(const AppStartupHooks* replacement)
{
    hooks = replacement;
}
#endif

int AppRun(HINSTANCE instance, int showCommand)
{
    // Released in reverse order on every path: Media Foundation, COM, then the mutex.
    const HandleOwner singleInstanceMutex{CreateMutexW(nullptr, FALSE, SINGLE_INSTANCE_MUTEX)};
    if (AnotherInstanceRuns(singleInstanceMutex.handle, GetLastError())) return 0;
    CrashDumpInstall();

    SetDpiAwareness();
    const ComScope com{CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)};
    const MediaFoundationScope mediaFoundation{MFStartup(MF_VERSION, MFSTARTUP_FULL)};
    INITCOMMONCONTROLSEX controls = {sizeof(controls), COMMON_CONTROL_CLASSES};
    InitCommonControlsEx(&controls);
    SettingsLoad();
    LogLoadAtStartup();
    if (FAILED(com.result))
        LogWrite(LOG_ERROR, L"COM-Initialisierung fehlgeschlagen (0x%08lX)", LogHresult(com.result));
    if (FAILED(mediaFoundation.result))
        LogWrite(LOG_ERROR, L"Media Foundation konnte nicht gestartet werden (0x%08lX)",
                 LogHresult(mediaFoundation.result));

    const int code = RunApplication(instance, showCommand);
    // Media Foundation and COM end with this function: a recording's writer thread and running
    // photo jobs finish their files first (bounded, so a hung drive cannot keep the process; a
    // writer the user chose not to wait for is left behind at once, its file marked for recovery).
    RecordingWaitForShutdown(MainWindow.recordingFlow.abandoned ? ABANDONED_RECORDING_WAIT_MS
                                                                : RECORDING_SHUTDOWN_WAIT_MS);
    SnapshotWaitForShutdown(PHOTO_SHUTDOWN_WAIT_MS);
    RecoveryWaitForShutdown(RECOVERY_SHUTDOWN_WAIT_MS);
    return code;
}
