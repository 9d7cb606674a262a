#pragma once
// The timing and the verdicts of the camera control thread, free of threads and devices.
#include <cstdint>

// The control's waits in milliseconds.
constexpr uint32_t CONTROL_SEARCH_STEP_MS = 800;     // between two configuration attempts
constexpr int32_t CONTROL_SEARCH_ATTEMPTS = 60;      // attempts of one search
constexpr uint32_t CONTROL_NO_IMAGE_CHECK_MS = 3000;  // from going live to the no-image check
constexpr uint32_t CONTROL_START_PAUSE_MS = 200;     // between starting Wide and Macro
constexpr uint32_t CONTROL_SHUTDOWN_WAIT_MS = 10000;  // for the thread to end at shutdown
constexpr uint32_t READER_FLUSH_WAIT_MS = 3000;      // for a reader's flush when it stops
constexpr uint32_t READER_CALLBACK_WAIT_MS = 1000;   // then for its sample callbacks to leave
constexpr int32_t CONTROL_AUTO_RESTARTS = 3;         // restarts before giving up on an image

// Commands from the UI thread, OR-ed into the pending command bits.
enum : uint32_t {
    CONTROL_CMD_START = 1,
    CONTROL_CMD_STOP = 2,
    CONTROL_CMD_DEVICES = 4,
    CONTROL_CMD_QUIT = 8,
};

constexpr uint64_t CONTROL_WAIT_FOREVER = UINT64_MAX;

// A wait of `ms` on a clock that runs `timeScale` times faster (tests); 1 is real time. A
// nonzero wait never becomes 0.
uint64_t ControlScaledMs(uint64_t ms, double timeScale);

// How long the thread may sleep at `now`: until the earlier armed deadline, 0 when one has
// passed, CONTROL_WAIT_FOREVER when none is armed.
uint64_t ControlWaitMs(uint64_t now, bool searching, uint64_t searchDue, bool watchdogArmed, uint64_t watchdogDue);

enum class NoImageVerdict : uint8_t {
    Pass,     // both cameras delivered: the check is done
    Restart,  // restart the cameras once more
    GiveUp,   // enough restarts: report the camera without image
};
NoImageVerdict ControlNoImageVerdict(bool wideHasImage, bool macroHasImage, int32_t restartCount);

// At a device check while live: the role whose bound device is missing (Wide before Macro), or
// -1 when none is. An unbound role is never lost.
int32_t ControlLostCamera(bool wideBound, bool wideFound, bool macroBound, bool macroFound);
