#include "app/recording_flow.h"

uint32_t RecordingFlowToggle(RecordingFlow& flow, bool live)
{
    switch (flow.phase) {
    case RecordingPhase::Idle:
        return live ? FLOW_START_RECORDER : 0u;
    case RecordingPhase::Recording:
        flow.phase = RecordingPhase::Stopping;
        return FLOW_REQUEST_STOP | FLOW_SHOW_COCKPIT;
    case RecordingPhase::Stopping:
        return FLOW_SHOW_COCKPIT;
    }
    return 0u;
}

uint32_t RecordingFlowStarted(RecordingFlow& flow, bool success)
{
    if (success && flow.phase == RecordingPhase::Idle) flow.phase = RecordingPhase::Recording;
    return FLOW_SHOW_COCKPIT;
}

uint32_t RecordingFlowRequestStop(RecordingFlow& flow)
{
    if (flow.phase != RecordingPhase::Recording) return 0u;
    flow.phase = RecordingPhase::Stopping;
    return FLOW_REQUEST_STOP;
}

uint32_t RecordingFlowClose(RecordingFlow& flow)
{
    if (flow.phase == RecordingPhase::Idle) return FLOW_DESTROY_WINDOW;
    if (flow.closeRequested) return 0u;
    flow.closeRequested = true;
    return FLOW_LOG_CLOSING | RecordingFlowRequestStop(flow);
}

uint32_t RecordingFlowEnded(RecordingFlow& flow)
{
    flow.phase = RecordingPhase::Idle;
    return flow.closeRequested ? FLOW_DESTROY_WINDOW : 0u;
}
