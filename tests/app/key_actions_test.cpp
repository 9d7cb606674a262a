#include "app/key_actions.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

enum class Ctrl { Without, With, Either, WithShift, Never };
struct Row {
    uint32_t key;
    Ctrl ctrl;  // the Ctrl state under which the key is a shortcut
    KeyAction action;
    float value;
};

}  // namespace

// Every row under all four Ctrl/Shift states: the action when its Ctrl rule is met (Shift is
// ignored except for Ctrl+Shift+O), otherwise the key falls through.
TEST(KeyTable, ShortcutsUnderTheirCtrlRuleAndOtherKeysFallThrough)
{
    std::vector<Row> rows = {
        {0x7A, Ctrl::Either, KeyAction::ToggleFullScreen, 0}, {'R', Ctrl::Either, KeyAction::ToggleRecording, 0},
        {0x20, Ctrl::Without, KeyAction::TakePhoto, 0},       {'P', Ctrl::With, KeyAction::TakePhoto, 0},
        {'M', Ctrl::Without, KeyAction::ToggleMute, 0},       {'S', Ctrl::Without, KeyAction::ToggleStabilisation, 0},
        {'W', Ctrl::Without, KeyAction::SwapCameras, 0},      {0xBC, Ctrl::With, KeyAction::OpenSettings, 0},
        {0xBB, Ctrl::With, KeyAction::ChangePipSize, 0.05f},  {0x6B, Ctrl::With, KeyAction::ChangePipSize, 0.05f},
        {0xBD, Ctrl::With, KeyAction::ChangePipSize, -0.05f}, {0x6D, Ctrl::With, KeyAction::ChangePipSize, -0.05f},
        {'O', Ctrl::WithShift, KeyAction::OpenRecordingFolder, 0},
        {'0', Ctrl::Without, KeyAction::SetPipSize, 1.0f},    {0x60, Ctrl::Without, KeyAction::SetPipSize, 1.0f},
    };
    for (uint32_t digit = 1; digit <= 9; digit++) {
        rows.push_back({'0' + digit, Ctrl::Without, KeyAction::SetPipSize, digit / 10.0f});
        rows.push_back({0x60 + digit, Ctrl::Without, KeyAction::SetPipSize, digit / 10.0f});  // numeric pad
    }
    for (uint32_t key : {0x41u, 0x1Bu, 0x0Du, 0x79u, 0xBEu})  // A, Esc, Enter, F10, '.'
        rows.push_back({key, Ctrl::Never, KeyAction::None, 0});

    for (const Row& row : rows) {
        for (bool ctrl : {false, true}) {
            for (bool shift : {false, true}) {
                const bool met = row.ctrl == Ctrl::Either || (row.ctrl == Ctrl::With && ctrl) ||
                                 (row.ctrl == Ctrl::Without && !ctrl) || (row.ctrl == Ctrl::WithShift && ctrl && shift);
                const KeyCommand command = KeyCommandFor(row.key, ctrl, shift);
                EXPECT_EQ(command.action, met ? row.action : KeyAction::None)
                    << "key 0x" << std::hex << row.key << " ctrl " << ctrl << " shift " << shift;
                if (met) {
                    EXPECT_FLOAT_EQ(command.value, row.value) << "key 0x" << std::hex << row.key;
                }
            }
        }
    }
}
