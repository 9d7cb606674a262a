// The cockpit's buttons, slider, wheel and auto-hide through the main window's real mouse
// messages (a MIRU_MAIN window in this process, 1280 x 800 at scale 1).
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <initializer_list>

#include "app/actions.h"
#include "app/app_messages.h"
#include "app/main_window.h"
#include "app/texts.h"
#include "app/ui_state.h"
#include "render/cockpit_kit.h"
#include "settings/settings_store.h"
#include "tests/diag/log_probe.h"

namespace {

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

bool WaitUntil(const std::function<bool()>& condition, int seconds = 30)
{
    for (int i = 0; i < seconds * 50 && !condition(); i++, Sleep(20)) Pump();
    return condition();
}

int recorderStarts = 0;
constexpr ShellRecorder countingRecorder = {
    [](int32_t, int32_t, bool, const uint8_t*, int32_t, int32_t) -> const wchar_t* {
        recorderStarts++;
        return nullptr;
    },
    [] {}, [] { return 0; }};

class CockpitMouseTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        Pump();
        recorderStarts = 0;
        ShellSetRecorderForTest(&countingRecorder);
        ASSERT_TRUE(MainWindowRegisterClass(GetModuleHandleW(nullptr)));
        window = MainWindowCreate(GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
        UiStateReset();
        RECT client = {};
        GetClientRect(window, &client);
        ASSERT_EQ(client.right, 1280);
        ASSERT_EQ(client.bottom, 800);
    }
    void TearDown() override
    {
        if (IsWindow(window)) DestroyWindow(window);
        Pump();
        UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
        ShellSetRecorderForTest(nullptr);
    }
    void Down(int x, int y) { SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
    void Up(int x, int y) { SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
    void Move(int x, int y) { SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
    void Click(int x, int y)
    {
        Down(x, y);
        Up(x, y);
    }
    void Wheel(int notches) { SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, notches * WHEEL_DELTA), 0); }
    void HideTimer() { SendMessageW(window, WM_TIMER, TIMER_COCKPIT_HIDE, 0); }
    // The first of the window's timers `ids` to fire within `ms`, stopped without running it
    // (other messages are handled); 0 when none came.
    UINT_PTR FirstTimer(std::initializer_list<UINT_PTR> ids, int ms)
    {
        for (int i = 0; i < ms / 10; i++, Sleep(10)) {
            MSG message;
            while (PeekMessageW(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE))
                for (UINT_PTR id : ids)
                    if (message.wParam == id) {
                        KillTimer(window, id);  // what its handler would do
                        return id;
                    }
            Pump();
        }
        return 0;
    }

    LogSandbox folder;
    HWND window = nullptr;
};

TEST_F(CockpitMouseTest, SliderPressesDragsAndWheel)
{
    Click(1176, 749);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.5f);
    Click(1090, 749);  // inside the click area, left of the track
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.0f);
    Click(1262, 749);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);

    // A drag that leaves the window: only x counts; the release outside ends it.
    Down(1176, 749);
    EXPECT_TRUE(UiState.sliderDrag);
    EXPECT_EQ(GetCapture(), window);
    Move(1136, 200);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.25f);
    Move(1500, 900);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);
    Up(1500, 900);
    EXPECT_FALSE(UiState.sliderDrag);
    EXPECT_EQ(GetCapture(), nullptr);
    Move(1100, 749);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);

    Click(1144, 749);  // 0.3
    Wheel(5);
    EXPECT_NEAR(UiState.pipSize, 0.45f, 1e-6);
    Wheel(50);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);
    Wheel(-100);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.0f);
}

TEST_F(CockpitMouseTest, ButtonsRunTheirActionsOnlyWhenTheyApply)
{
    Click(598, 758);  // photo while not live: only shows the cockpit
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.0f);
    Click(30, 758);
    EXPECT_TRUE(UiState.micMuted);
    const bool stabilised = Settings.stabilizeMacro;
    Click(1054, 758);
    EXPECT_NE(Settings.stabilizeMacro, stabilised);
    Click(400, 758);  // the empty middle of the bottom bar
    Click(100, 26);   // brand name
    EXPECT_TRUE(UiState.micMuted);
    EXPECT_NE(Settings.stabilizeMacro, stabilised);

    // The restart square right of the status text restarts the cameras only while not live.
    const CockpitRect restart = CockpitComputeLayout(1280, 800).reconnectRect;
    ASSERT_GT(restart.right - restart.left, 0.0f);
    const int rx = static_cast<int>((restart.left + restart.right) / 2);
    Click(rx, 26);
    EXPECT_EQ(FirstTimer({TIMER_CAMERA_RESTART}, 5000), TIMER_CAMERA_RESTART);

    SendMessageW(window, WM_APP_LIVE, 1, 0);
    Click(rx, 26);
    constexpr UINT_PTR LATER = 77;  // due well after the 300 ms a restart would take
    SetTimer(window, LATER, 900, nullptr);
    EXPECT_EQ(FirstTimer({TIMER_CAMERA_RESTART, LATER}, 5000), LATER);
    KillTimer(window, LATER);

    Click(598, 758);
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.75f);
    Click(677, 758);
    EXPECT_EQ(recorderStarts, 1);
    EXPECT_TRUE(UiState.recording);
}

TEST_F(CockpitMouseTest, HiddenBarsOnlyShowOnAPressAndStayDuringARecording)
{
    HideTimer();
    EXPECT_FALSE(UiState.cockpitVisible);
    SendMessageW(window, WM_APP_LIVE, 1, 0);
    Click(677, 758);  // where the record button would be
    EXPECT_TRUE(UiState.cockpitVisible);
    EXPECT_EQ(recorderStarts, 0);

    Click(677, 758);
    ASSERT_TRUE(UiState.recording);
    HideTimer();
    EXPECT_TRUE(UiState.cockpitVisible);

    ASSERT_TRUE(PostAppMessageText(WM_APP_RECORDING_ENDED, 1, nullptr));
    Pump();
    ASSERT_FALSE(UiState.recording);
    Move(640, 400);  // the first input after the recording re-arms the real timer
    EXPECT_TRUE(WaitUntil([] { return !UiState.cockpitVisible; }, 12));
}

}  // namespace
