#pragma once
// The main window's keyboard shortcuts as a pure table: virtual key and modifier state in,
// the action to run out. Keys without an action go on to DefWindowProcW.
#include <cstdint>

enum class KeyAction : uint8_t {
    None,  // not a shortcut: DefWindowProcW
    ToggleFullScreen,
    ToggleRecording,
    TakePhoto,
    ToggleMute,
    ToggleStabilisation,
    SwapCameras,
    SetPipSize,    // Macro size = KeyCommand::value
    ChangePipSize, // Macro size += KeyCommand::value
    OpenSettings,
    OpenRecordingFolder,
};

struct KeyCommand {
    KeyAction action;
    float value;  // SetPipSize: the new size; ChangePipSize: the step (+/- 0.05)
};

// `ctrl` and `shift`: the key is held (GetKeyState negative); `repeated`: an auto-repeated
// key-down of a key held down. A held key repeats only the Macro size keys; every other action
// (a photo, a toggle, a window) runs once per press.
KeyCommand KeyCommandFor(uint32_t virtualKey, bool ctrl, bool shift, bool repeated);

// The Macro size a SetPipSize or ChangePipSize command asks for, before the cockpit's
// clamping to 0 ... 1; other commands keep `current`.
float PipSizeRequested(KeyCommand command, float current);
