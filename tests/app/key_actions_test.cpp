#include "app/key_actions.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    uint32_t key;
    bool ctrl;
    bool shift;
    KeyAction action;
    float value;
};

void ExpectCommand(const Case& c)
{
    const KeyCommand command = KeyCommandFor(c.key, c.ctrl, c.shift);
    EXPECT_EQ(command.action, c.action) << "key 0x" << std::hex << c.key << " ctrl " << c.ctrl << " shift " << c.shift;
    if (command.action == c.action && (c.action == KeyAction::SetPipSize || c.action == KeyAction::ChangePipSize)) {
        EXPECT_FLOAT_EQ(command.value, c.value) << "key 0x" << std::hex << c.key;
    }
}

}  // namespace

TEST(KeyTable, ShortcutsUnderTheirCtrlRuleAndShiftIgnored)
{
    for (bool shift : {false, true}) {
        const Case cases[] = {
            {0x7A, false, shift, KeyAction::ToggleFullScreen, 0},
            {0x7A, true, shift, KeyAction::ToggleFullScreen, 0},
            {'R', false, shift, KeyAction::ToggleRecording, 0},
            {'R', true, shift, KeyAction::ToggleRecording, 0},
            {0x20, false, shift, KeyAction::TakePhoto, 0},
            {'P', true, shift, KeyAction::TakePhoto, 0},
            {'M', false, shift, KeyAction::ToggleMute, 0},
            {'S', false, shift, KeyAction::ToggleStabilisation, 0},
            {'W', false, shift, KeyAction::SwapCameras, 0},
            {0xBB, true, shift, KeyAction::ChangePipSize, 0.05f},
            {0x6B, true, shift, KeyAction::ChangePipSize, 0.05f},
            {0xBD, true, shift, KeyAction::ChangePipSize, -0.05f},
            {0x6D, true, shift, KeyAction::ChangePipSize, -0.05f},
            {0xBC, true, shift, KeyAction::OpenSettings, 0},
        };
        for (const Case& c : cases) ExpectCommand(c);
    }
    ExpectCommand({'O', true, true, KeyAction::OpenRecordingFolder, 0});
}

TEST(KeyTable, OtherCtrlStateAndUnknownKeysFallThrough)
{
    for (bool shift : {false, true}) {
        const Case cases[] = {
            {0x20, true, shift, KeyAction::None, 0}, {'P', false, shift, KeyAction::None, 0},
            {'M', true, shift, KeyAction::None, 0},  {'S', true, shift, KeyAction::None, 0},
            {'W', true, shift, KeyAction::None, 0},  {0xBB, false, shift, KeyAction::None, 0},
            {0x6B, false, shift, KeyAction::None, 0}, {0xBD, false, shift, KeyAction::None, 0},
            {0x6D, false, shift, KeyAction::None, 0}, {0xBC, false, shift, KeyAction::None, 0},
            {'O', false, shift, KeyAction::None, 0},  {'A', false, shift, KeyAction::None, 0},
            {0x1B, false, shift, KeyAction::None, 0}, {0x0D, true, shift, KeyAction::None, 0},
            {0x79, false, shift, KeyAction::None, 0}, {0xBE, true, shift, KeyAction::None, 0},
        };
        for (const Case& c : cases) ExpectCommand(c);
    }
    ExpectCommand({'O', true, false, KeyAction::None, 0});  // Ctrl+O needs Shift
}

TEST(KeyTable, DigitsSetTheMacroSizeOnlyWithoutCtrl)
{
    for (uint32_t digit = 1; digit <= 9; digit++) {
        for (bool shift : {false, true}) {
            ExpectCommand({'0' + digit, false, shift, KeyAction::SetPipSize, digit / 10.0f});
            ExpectCommand({0x60 + digit, false, shift, KeyAction::SetPipSize, digit / 10.0f});
            ExpectCommand({'0' + digit, true, shift, KeyAction::None, 0});
            ExpectCommand({0x60 + digit, true, shift, KeyAction::None, 0});
        }
    }
    ExpectCommand({'0', false, false, KeyAction::SetPipSize, 1.0f});
    ExpectCommand({0x60, false, true, KeyAction::SetPipSize, 1.0f});
    ExpectCommand({'0', true, false, KeyAction::None, 0});
    ExpectCommand({0x60, true, false, KeyAction::None, 0});
}

TEST(KeyTable, PipSizeRequestedSetsOrSteps)
{
    EXPECT_FLOAT_EQ(PipSizeRequested(KeyCommandFor('5', false, false), 0.3f), 0.5f);
    EXPECT_FLOAT_EQ(PipSizeRequested(KeyCommandFor('0', false, false), 0.3f), 1.0f);
    EXPECT_FLOAT_EQ(PipSizeRequested(KeyCommandFor(0xBB, true, false), 0.3f), 0.35f);
    EXPECT_FLOAT_EQ(PipSizeRequested(KeyCommandFor(0x6D, true, false), 0.3f), 0.25f);
    // Clamping is the cockpit's: the request itself may leave 0 ... 1.
    EXPECT_FLOAT_EQ(PipSizeRequested(KeyCommandFor(0xBD, true, false), 0.0f), -0.05f);
    EXPECT_FLOAT_EQ(PipSizeRequested(KeyCommandFor('M', false, false), 0.3f), 0.3f);
}
