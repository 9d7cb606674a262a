// Failures that repeat with every frame: one line when the streak starts, one when it ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log_streak.h"
#include "frames/frame_store.h"
#include "tests/diag/log_probe.h"
#ifdef _WIN32
#include "render/compositor.h"
#endif

using Texts = std::vector<std::wstring>;

TEST(LogStreak, OneLineWhenAStreakStartsAndOneWhenItEnds)
{
    LogSandbox log;
    LogStreak streak{};
    LogStreakSucceeded(streak, L"Ohne Fehler");  // no streak runs: nothing to say
    EXPECT_TRUE(LogStreakFailed(streak));
    for (int i = 0; i < 36; i++) EXPECT_FALSE(LogStreakFailed(streak));
    LogStreakSucceeded(streak, L"Renderer: 100% Bild");  // a % in the text is no format
    LogStreakSucceeded(streak, L"Zweimal");
    EXPECT_TRUE(LogStreakFailed(streak));  // the next failure starts a new streak
    LogStreakSucceeded(streak, L"Einmal");
    EXPECT_EQ(LogTexts(), (Texts{L"Renderer: 100% Bild wieder in Ordnung nach 37 Fehlern",
                                 L"Einmal wieder in Ordnung nach 1 Fehler"}));
}

TEST(LogStreak, FramesAskedForSampleBySampleLogTheirFailuresOncePerStreak)
{
    LogSandbox log;
    LogStreak streak{};
    for (int i = 0; i < 5; i++) EXPECT_EQ(FrameCreate(0, 720, &streak), nullptr);
    FrameRelease(FrameCreate(4, 2, &streak));
    EXPECT_EQ(LogTexts(), (Texts{L"FrameStore: ungueltige Frame-Groesse 0x720",
                                 L"FrameStore: Frame-Erstellung wieder in Ordnung nach 5 Fehlern"}));
    EXPECT_EQ(FrameLiveCount(), 0);
}

#ifdef _WIN32
TEST(LogStreak, ACompositionFailingFrameAfterFrameLogsOnceAndOnceWhenItRecovers)
{
    LogSandbox log;
    // Wider than any Direct2D bitmap may be: its upload fails every time.
    OffscreenCompositor* c = CompositorCreate(32, 18);
    Frame* tooWide = FrameCreate(1 << 15, 1);
    Frame* fine = FrameCreate(16, 9);
    ASSERT_TRUE(c && tooWide && fine);
    std::vector<uint8_t> out(32 * 18 * 4);
    auto compose = [&](const Frame* wide) {
        return CompositorCompose(c, wide, nullptr, 0.3f, nullptr, 0, 0, out.data(), 32 * 4);
    };
    for (int i = 0; i < 4; i++) EXPECT_FALSE(compose(tooWide));
    EXPECT_TRUE(compose(fine));
    // By level: creating the compositor may warn about a software device.
    const Texts errors = LogTexts(LOG_ERROR);
    EXPECT_TRUE(errors.size() == 1 && errors[0].starts_with(L"Offscreen-Compositor: Wide-Bitmap konnte nicht erstellt werden"));
    EXPECT_EQ(LogTexts(LOG_INFO), Texts{L"Offscreen-Compositor: Komposition wieder in Ordnung nach 4 Fehlern"});
    FrameRelease(tooWide);
    FrameRelease(fine);
    CompositorDestroy(c);
}
#endif
