#pragma once
// The recording as the main window sees it: Idle, Recording, Stopping, plus the user's wish to
// close once the recording has been saved. Pure decisions; the main window carries out the
// effects they return (recorder calls, cockpit, window destruction).
#include <cstdint>

enum class RecordingPhase : uint8_t {
    Idle,       // no recording
    Recording,  // the recorder runs
    Stopping,   // a stop was requested; WM_APP_RECORDING_ENDED is awaited
};

struct RecordingFlow {
    RecordingPhase phase;
    bool closeRequested;  // set only while a recording runs and never cleared
};

// Effects, combined as bits.
enum : uint32_t {
    FLOW_START_RECORDER = 1u << 0,  // try RecordingStart, then report with RecordingFlowStarted
    FLOW_REQUEST_STOP = 1u << 1,    // RecordingRequestStop
    FLOW_SHOW_COCKPIT = 1u << 2,
    FLOW_DESTROY_WINDOW = 1u << 3,
    FLOW_LOG_CLOSING = 1u << 4,     // the "Beenden: ..." event
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
// WM_CLOSE.
uint32_t RecordingFlowClose(RecordingFlow& flow);
// WM_APP_RECORDING_ENDED.
uint32_t RecordingFlowEnded(RecordingFlow& flow);
