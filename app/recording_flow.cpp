#include "app/recording_flow.h"

namespace {

// A box owned by the window runs its own message loop; destroying the window under it would
// take the box away before the user has read it. The window goes when the last box closes.
uint32_t Destroy(RecordingFlow& flow)
{
    if (flow.boxesOpen == 0) return FLOW_DESTROY_WINDOW;
    flow.destroyPending = true;
    return 0u;
}

uint32_t CloseUnfinished(RecordingFlow& flow)
{
    flow.abandoned = true;
    return FLOW_LOG_CLOSE_UNFINISHED | Destroy(flow);
}

}  // namespace

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
    if (flow.phase == RecordingPhase::Idle) return Destroy(flow);
    // The user has been told that the recording is recovered at the next start.
    if (flow.stopOverdue) return CloseUnfinished(flow);
    if (flow.closeRequested) return 0u;
    flow.closeRequested = true;
    return FLOW_LOG_CLOSING | RecordingFlowRequestStop(flow);
}

uint32_t RecordingFlowEnded(RecordingFlow& flow)
{
    flow.phase = RecordingPhase::Idle;
    flow.stopOverdue = false;
    return flow.closeRequested ? Destroy(flow) : 0u;
}

uint32_t RecordingFlowStopOverdue(RecordingFlow& flow)
{
    if (flow.phase != RecordingPhase::Stopping || flow.stopOverdue) return 0u;
    flow.stopOverdue = true;
    return FLOW_TELL_STOP_OVERDUE | (flow.closeRequested ? FLOW_ASK_CLOSE_NOW : 0u);
}

uint32_t RecordingFlowCloseNow(RecordingFlow& flow)
{
    // The recording may have ended while the user was asked: then it is simply a close.
    if (flow.phase == RecordingPhase::Idle) return Destroy(flow);
    return CloseUnfinished(flow);
}

void RecordingFlowBoxOpened(RecordingFlow& flow)
{
    flow.boxesOpen++;
}

uint32_t RecordingFlowBoxClosed(RecordingFlow& flow)
{
    if (flow.boxesOpen > 0) flow.boxesOpen--;
    if (flow.boxesOpen > 0 || !flow.destroyPending) return 0u;
    flow.destroyPending = false;
    return FLOW_DESTROY_WINDOW;
}
