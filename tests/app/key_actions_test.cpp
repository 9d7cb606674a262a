#include "app/key_actions.h"

#include <gtest/gtest.h>

// Each shortcut under the modifier state that runs it and under one that must not (the key
// then falls through), digits at both ends of their ranges and keys just past them.
TEST(KeyTable, ShortcutsRunOnlyUnderTheirModifiers)
{
    using enum KeyAction;
    struct Case {
        uint32_t key;
        bool ctrl, shift;
        KeyAction action;
        float value;
    };
    const Case cases[] = {
        {0x7A, false, false, ToggleFullScreen, 0}, {0x7A, true, true, ToggleFullScreen, 0},
        {'R', false, false, ToggleRecording, 0},   {'R', true, true, ToggleRecording, 0},
        {0x20, false, true, TakePhoto, 0},         {0x20, true, false, None, 0},
        {'P', true, false, TakePhoto, 0},          {'P', false, false, None, 0},
        {'M', false, true, ToggleMute, 0},         {'M', true, false, None, 0},
        {'S', false, false, ToggleStabilisation, 0}, {'S', true, true, None, 0},
        {'W', false, true, SwapCameras, 0},        {'W', true, false, None, 0},
        {'1', false, false, SetPipSize, 0.1f},     {'9', false, true, SetPipSize, 0.9f},
        {0x61, false, false, SetPipSize, 0.1f},
        {'0', false, false, SetPipSize, 1.0f},     {0x60, false, true, SetPipSize, 1.0f},
        {'5', true, false, None, 0},               {0x65, true, true, None, 0},
        {0x6A, false, false, None, 0},             {0x2F, false, false, None, 0},
        {0xBB, true, false, ChangePipSize, 0.05f}, {0x6B, true, true, ChangePipSize, 0.05f},
        {0xBD, true, false, ChangePipSize, -0.05f}, {0x6D, true, false, ChangePipSize, -0.05f},
        {0xBB, false, false, None, 0},             {0x6D, false, true, None, 0},
        {0xBC, true, false, OpenSettings, 0},      {0xBC, false, false, None, 0},
        {'O', true, true, OpenRecordingFolder, 0}, {'O', true, false, None, 0},
        {'O', false, true, None, 0},               {0xBE, true, false, None, 0},
    };
    for (const Case& c : cases) {
        const KeyCommand command = KeyCommandFor(c.key, c.ctrl, c.shift, false);
        EXPECT_EQ(command.action, c.action) << "key 0x" << std::hex << c.key << " ctrl " << c.ctrl << " shift " << c.shift;
        if (c.action != None) {
            EXPECT_FLOAT_EQ(command.value, c.value) << "key 0x" << std::hex << c.key;
        }
    }
}

// A held key repeats the Macro size steps; a photo, a recording toggle or a camera swap runs
// once per press however long the key is held.
TEST(KeyTable, AHeldKeyRepeatsOnlyTheMacroSize)
{
    using enum KeyAction;
    EXPECT_EQ(KeyCommandFor(0x20, false, false, true).action, None);
    EXPECT_EQ(KeyCommandFor('P', true, false, true).action, None);
    for (uint32_t key : {0x7Au, uint32_t{'R'}, uint32_t{'M'}, uint32_t{'S'}, uint32_t{'W'}})
        EXPECT_EQ(KeyCommandFor(key, false, false, true).action, None) << key;
    EXPECT_EQ(KeyCommandFor(0xBB, true, false, true).action, ChangePipSize);
    EXPECT_EQ(KeyCommandFor('5', false, false, true).action, SetPipSize);
}
