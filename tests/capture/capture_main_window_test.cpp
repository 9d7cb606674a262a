// The camera control behind the real main window procedure (under a class name of its own, so
// that it cannot meet the shell tests' MIRU_MAIN): the virtual headset brings the window live
// with rising frame counters, and swapping the roles restarts the cameras the other way round.
#include <windows.h>

#include <string>

#include "app/main_window.h"
#include "app/texts.h"
#include "app/ui_state.h"
#include "capture/camera_control.h"
#include "capture/capture_state.h"
#include "capture/device_list.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "settings/settings_record.h"
#include "standins/virtual_seam.h"
#include "tests/capture/capture_test_support.h"

namespace {

constexpr wchar_t MAIN_CLASS[] = L"MIRU_CAPTURE_MAIN";

class CaptureMainWindowTest : public CaptureTest {
protected:
    HWND main_ = nullptr;

    void CreateMainWindow()
    {
        static const bool registered = [] {
            WNDCLASSEXW windowClass = {};
            windowClass.cbSize = sizeof(windowClass);
            windowClass.lpfnWndProc = MainWindowProc;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = MAIN_CLASS;
            return RegisterClassExW(&windowClass) != 0;
        }();
        ASSERT_TRUE(registered);
        UiStateReset();
        main_ = CreateWindowExW(0, MAIN_CLASS, L"MI-RU capture test", WS_OVERLAPPEDWINDOW, 0, 0, 640, 400, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(main_, nullptr);
        CaptureInit(main_);
    }
    void TearDown() override
    {
        if (main_ && IsWindow(main_)) DestroyWindow(main_);  // shuts the camera control down
        PumpFor(0);
        CaptureTest::TearDown();
    }
    // The width of the Wide slot's newest Frame, 0 without one.
    static int32_t WideWidth()
    {
        Frame* frame = FrameAcquireLatest(SLOT_WIDE);
        const int32_t width = frame ? frame->width : 0;
        FrameRelease(frame);
        return width;
    }
};

TEST_F(CaptureMainWindowTest, TheVirtualHeadsetGoesLiveWithRisingFrameCounters)
{
    CaptureSetTimeScaleForTest(1);
    VirtualDevicesSetTimeScale(1);
    VirtualAddNamedSet(L"default");
    CreateMainWindow();
    CaptureStart();
    SetTimer(main_, TIMER_FRAME, 33, nullptr);
    ASSERT_TRUE(PumpUntil([] { return UiState.live && UiState.framesWide > 0 && UiState.framesMacro > 0; }));
    EXPECT_EQ(UiState.status, STATUS_LIVE);
    EXPECT_EQ(CountLogged(LOG_EVENT, L"2 Kameras live"), 1);
    EXPECT_EQ(CountLogged(LOG_INFO, L"Kamera 0 konfiguriert: HD USB Camera #1"), 1);
    // The next counting period counts again.
    UiState.framesWide = UiState.framesMacro = 0;
    ASSERT_TRUE(PumpUntil([] { return UiState.framesWide > 0 && UiState.framesMacro > 0; }));
    DestroyWindow(main_);
    EXPECT_FALSE(UiState.live && CaptureIsLive());
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Kamera-Sessions gestoppt"), 1);
}

TEST_F(CaptureMainWindowTest, SwappingTheRolesSavesThemAndRestartsTheCamerasTheOtherWayRound)
{
    PlugQuietly(PatternCamera(L"usb#1", L"First", 64, 48));
    PlugQuietly(PatternCamera(L"usb#2", L"Second", 48, 36));
    wcscpy(Settings.wideDeviceID, L"usb#1");
    wcscpy(Settings.macroDeviceID, L"usb#2");
    CreateMainWindow();
    CaptureStart();
    ASSERT_TRUE(PumpUntil([] { return UiState.live && WideWidth() == 64; }));

    UiState.cockpitVisible = false;
    CameraSwapRoles();
    EXPECT_STREQ(Settings.wideDeviceID, L"usb#2");
    EXPECT_STREQ(Settings.macroDeviceID, L"usb#1");
    EXPECT_TRUE(UiState.cockpitVisible);
    const std::string file = ReadFileBytes(folder_->File(L"settings.ini"));
    const std::wstring text(reinterpret_cast<const wchar_t*>(file.data()), file.size() / sizeof(wchar_t));
    EXPECT_NE(text.find(L"wideDeviceID=usb#2"), std::wstring::npos);
    EXPECT_NE(text.find(L"macroDeviceID=usb#1"), std::wstring::npos);
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Kameras getauscht (Wide \u2194 Macro)"), 1);

    // The restart timer of the main window starts the cameras again: the former Macro image is
    // now the Wide one.
    ASSERT_TRUE(PumpUntil([] { return !UiState.live; }));
    ASSERT_TRUE(PumpUntil([] { return UiState.live && WideWidth() == 48; }));
    EXPECT_EQ(CountLogged(LOG_INFO, L"Kamera 0 konfiguriert: Second"), 1);
}

}  // namespace
