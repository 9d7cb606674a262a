#pragma once
// The recording as the main window sees it: Idle, Recording, Stopping, plus the user's wish to
// close once the recording has been saved, a stop that takes too long, and the message boxes
// that must not lose their owner. Pure decisions; the main window carries out the effects they
// return (recorder calls, cockpit, boxes, window destruction).
#include <cstdint>

enum class RecordingPhase : uint8_t {
    Idle,       // no recording
    Recording,  // the recorder runs
    Stopping,   // a stop was requested; WM_APP_RECORDING_ENDED is awaited
};

struct RecordingFlow {
    RecordingPhase phase;
    bool closeRequested;  // set only while a recording runs and never cleared
    bool stopOverdue;     // the requested stop has not ended in time; closing no longer waits
    bool abandoned;       // the window was closed before the recording ended
    uint8_t boxesOpen;    // message boxes owned by the window that are still open
    bool destroyPending;  // the window goes once the last box is closed
};

// How long a requested stop may take before the user is told and may close without waiting.
constexpr uint32_t RECORDING_STOP_PATIENCE_MS = 15000;

// Effects, combined as bits.
enum : uint32_t {
    FLOW_START_RECORDER = 1u << 0,  // try RecordingStart, then report with RecordingFlowStarted
    FLOW_REQUEST_STOP = 1u << 1,    // RecordingRequestStop, and watch that the stop ends in time
    FLOW_SHOW_COCKPIT = 1u << 2,
    FLOW_DESTROY_WINDOW = 1u << 3,
    FLOW_LOG_CLOSING = 1u << 4,        // the "Beenden: ..." event
    FLOW_TELL_STOP_OVERDUE = 1u << 5,  // the stop takes too long: say so, and what closing now means
    FLOW_ASK_CLOSE_NOW = 1u << 6,      // the user is waiting to close: offer to close now
    FLOW_LOG_CLOSE_UNFINISHED = 1u << 7,  // closing leaves the recording to the next start
};

inline bool RecordingFlowIsRecording(const RecordingFlow& flow)
{
    return flow.phase != RecordingPhase::Idle;
}
inline bool RecordingFlowStopRequested(const RecordingFlow& flow)
{
    return flow.phase == RecordingPhase::Stopping;
}

// R key or record button. A start is only tried while the cameras are live.
uint32_t RecordingFlowToggle(RecordingFlow& flow, bool live);
// Result of the start that FLOW_START_RECORDER asked for.
uint32_t RecordingFlowStarted(RecordingFlow& flow, bool success);
// A stop wanted by a worker or a camera restart: only a running, not yet stopping recording.
uint32_t RecordingFlowRequestStop(RecordingFlow& flow);
// WM_CLOSE. While a recording is finished the window waits for it, unless the stop is overdue.
uint32_t RecordingFlowClose(RecordingFlow& flow);
// WM_APP_RECORDING_ENDED.
uint32_t RecordingFlowEnded(RecordingFlow& flow);
// The stop watch ran out (RECORDING_STOP_PATIENCE_MS after the stop was requested).
uint32_t RecordingFlowStopOverdue(RecordingFlow& flow);
// The user chose to close without waiting for the recording's end.
uint32_t RecordingFlowCloseNow(RecordingFlow& flow);
// A message box owned by the window opens / has been closed.
void RecordingFlowBoxOpened(RecordingFlow& flow);
uint32_t RecordingFlowBoxClosed(RecordingFlow& flow);
