#include "app/key_actions.h"

namespace {

// Virtual-key codes (winuser.h values; this table is also built without Windows headers).
constexpr uint32_t VK_SPACE_ = 0x20;
constexpr uint32_t VK_F11_ = 0x7A;
constexpr uint32_t VK_NUMPAD0_ = 0x60;
constexpr uint32_t VK_NUMPAD9_ = 0x69;
constexpr uint32_t VK_ADD_ = 0x6B;
constexpr uint32_t VK_SUBTRACT_ = 0x6D;
constexpr uint32_t VK_OEM_PLUS_ = 0xBB;
constexpr uint32_t VK_OEM_COMMA_ = 0xBC;
constexpr uint32_t VK_OEM_MINUS_ = 0xBD;

constexpr float PIP_STEP = 0.05f;

enum class CtrlRule : uint8_t { Either, NotHeld, Held, HeldWithShift };

struct KeyRow {
    uint32_t key;
    CtrlRule ctrl;
    KeyAction action;
    float value;
};

constexpr KeyRow keyTable[] = {
    {VK_F11_, CtrlRule::Either, KeyAction::ToggleFullScreen, 0.0f},
    {'R', CtrlRule::Either, KeyAction::ToggleRecording, 0.0f},
    {VK_SPACE_, CtrlRule::NotHeld, KeyAction::TakePhoto, 0.0f},
    {'P', CtrlRule::Held, KeyAction::TakePhoto, 0.0f},
    {'M', CtrlRule::NotHeld, KeyAction::ToggleMute, 0.0f},
    {'S', CtrlRule::NotHeld, KeyAction::ToggleStabilisation, 0.0f},
    {'W', CtrlRule::NotHeld, KeyAction::SwapCameras, 0.0f},
    {'0', CtrlRule::NotHeld, KeyAction::SetPipSize, 1.0f},
    {VK_NUMPAD0_, CtrlRule::NotHeld, KeyAction::SetPipSize, 1.0f},
    {VK_OEM_PLUS_, CtrlRule::Held, KeyAction::ChangePipSize, PIP_STEP},
    {VK_ADD_, CtrlRule::Held, KeyAction::ChangePipSize, PIP_STEP},
    {VK_OEM_MINUS_, CtrlRule::Held, KeyAction::ChangePipSize, -PIP_STEP},
    {VK_SUBTRACT_, CtrlRule::Held, KeyAction::ChangePipSize, -PIP_STEP},
    {VK_OEM_COMMA_, CtrlRule::Held, KeyAction::OpenSettings, 0.0f},
    {'O', CtrlRule::HeldWithShift, KeyAction::OpenRecordingFolder, 0.0f},
};

bool CtrlRuleMet(CtrlRule rule, bool ctrl, bool shift)
{
    switch (rule) {
    case CtrlRule::Either: return true;
    case CtrlRule::NotHeld: return !ctrl;
    case CtrlRule::Held: return ctrl;
    case CtrlRule::HeldWithShift: return ctrl && shift;
    }
    return false;
}

KeyCommand KeyCommandForPress(uint32_t virtualKey, bool ctrl, bool shift)
{
    // Digits 1 ... 9 on the main keys and on the numeric pad set the Macro size in tenths.
    uint32_t digit = 0;
    if (virtualKey >= '1' && virtualKey <= '9') digit = virtualKey - '0';
    if (virtualKey >= VK_NUMPAD0_ + 1 && virtualKey <= VK_NUMPAD9_) digit = virtualKey - VK_NUMPAD0_;
    if (digit != 0) {
        if (ctrl) return {KeyAction::None, 0.0f};
        return {KeyAction::SetPipSize, static_cast<float>(digit) / 10.0f};
    }
    for (const KeyRow& row : keyTable) {
        if (row.key != virtualKey) continue;
        if (!CtrlRuleMet(row.ctrl, ctrl, shift)) return {KeyAction::None, 0.0f};
        return {row.action, row.value};
    }
    return {KeyAction::None, 0.0f};
}

}  // namespace

KeyCommand KeyCommandFor(uint32_t virtualKey, bool ctrl, bool shift, bool repeated)
{
    const KeyCommand command = KeyCommandForPress(virtualKey, ctrl, shift);
    const bool repeats = command.action == KeyAction::SetPipSize || command.action == KeyAction::ChangePipSize;
    return repeated && !repeats ? KeyCommand{KeyAction::None, 0.0f} : command;
}

float PipSizeRequested(KeyCommand command, float current)
{
    switch (command.action) {
    case KeyAction::SetPipSize: return command.value;
    case KeyAction::ChangePipSize: return current + command.value;
    default: return current;
    }
}
