// Opens the settings window (every tab, the developer section open on the Cameras tab) and the
// diagnostics window with a few log entries, and saves each as a BMP picture of the screen:
//   window_shots.exe <folder>   -> settings-0.bmp ... settings-4.bmp, diagnostics.bmp and
//                                  diagnostics-dark.bmp
// Runs with virtual devices and a settings folder of its own; scripts/window-shots.sh drives it.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "app/texts.h"
#include "diag/diag_window.h"
#include "diag/log.h"
#include "settings/settings_store.h"
#include "settings/settings_window.h"
#include "standins/virtual_devices.h"
#include "tests/support/ui_wait.h"

namespace {

// Lets the windows draw for a while before the screen is read.
void Pump(int milliseconds)
{
    for (ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds); GetTickCount64() < end; Sleep(10))
        PumpMessages();
}

// The window's screen area as a 24-bit BMP file.
bool SaveWindow(HWND window, const std::wstring& path)
{
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    FILE* out = bitmap && memory ? _wfopen(path.c_str(), L"wb") : nullptr;
    bool saved = false;
    if (out) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        SelectObject(memory, old);
        const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        const DWORD imageBytes = ((width * 3 + 3) / 4) * 4 * static_cast<DWORD>(height);
        const BITMAPFILEHEADER file = {0x4D42, headers + imageBytes, 0, 0, headers};
        saved = fwrite(&file, sizeof(file), 1, out) && fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, out) &&
                fwrite(bits, imageBytes, 1, out);
        fclose(out);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    const std::wstring folder = argv[1];
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    wchar_t settingsFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, settingsFolder);
    wcscat(settingsFolder, L"miru-window-shots");
    SettingsSetFolderOverride(settingsFolder);
    SettingsLoad();
    wcscpy(Settings.recordingFolder, L"C:\\users\\Praxis\\Videos\\MI-RU Aufnahmen");
    VirtualDevicesInstall();
    VirtualDeviceAdd(VirtualCamera(L"cam-wide", L"MI-RU Wide Camera", SceneKind::Wide));
    VirtualDeviceAdd(VirtualCamera(L"cam-macro", L"MI-RU Macro Camera", SceneKind::Macro));
    VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Headset Microphone", SceneKind::Tone));
    wcscpy(Settings.wideDeviceID, L"cam-wide");
    wcscpy(Settings.macroDeviceID, L"cam-wide");  // shows the same-camera warning
    LogWrite(LOG_EVENT, L"App gestartet");
    LogWrite(LOG_INFO, L"Kamera gefunden: MI-RU Wide Camera");
    LogWrite(LOG_WARN, L"Kamera liefert kein Bild \u2014 Neustart");
    LogWrite(LOG_ERROR, L"Aufnahme fehlgeschlagen: Datentr\u00e4ger voll");

    OpenSettings(nullptr);
    HWND settings = OwnWindow(L"MIRU_SETTINGS");
    if (!settings) return 1;
    HWND tab = GetDlgItem(settings, 100);
    int failures = 0;
    for (int i = 0; i < 5; i++) {
        SendMessageW(tab, TCM_SETCURFOCUS, i, 0);
        if (i == 2) SendMessageW(GetDlgItem(settings, 136), BM_CLICK, 0, 0);
        Pump(400);
        if (!SaveWindow(settings, folder + L"\\settings-" + std::to_wstring(i) + L".bmp")) failures++;
    }
    SendMessageW(GetDlgItem(settings, 192), BM_CLICK, 0, 0);
    HWND diagnostics = OwnWindow(L"MIRU_DIAG");
    if (!diagnostics) return 1;
    Pump(600);
    if (!SaveWindow(diagnostics, folder + L"\\diagnostics.bmp")) failures++;
    // The diagnostics window follows the dark appearance.
    DestroyWindow(diagnostics);
    Settings.appearanceMode = 2;
    SendMessageW(GetDlgItem(settings, 192), BM_CLICK, 0, 0);
    diagnostics = OwnWindow(L"MIRU_DIAG");
    if (!diagnostics) return 1;
    Pump(600);
    if (!SaveWindow(diagnostics, folder + L"\\diagnostics-dark.bmp")) failures++;
    DestroyWindow(settings);
    VirtualDevicesUninstall();
    return failures;
}
