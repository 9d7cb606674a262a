#include "app/recording_flow.h"

#include <gtest/gtest.h>

namespace {

RecordingFlow Running()
{
    RecordingFlow flow{};
    EXPECT_EQ(RecordingFlowToggle(flow, true), FLOW_START_RECORDER);
    EXPECT_EQ(RecordingFlowStarted(flow, true), FLOW_SHOW_COCKPIT);
    EXPECT_EQ(flow.phase, RecordingPhase::Recording);
    return flow;
}

}  // namespace

TEST(RecordingFlow, StartsOnlyWhileLiveAndAFailedStartStaysIdle)
{
    RecordingFlow flow{};
    EXPECT_EQ(RecordingFlowToggle(flow, false), 0u);  // no message, no cockpit
    EXPECT_EQ(flow.phase, RecordingPhase::Idle);

    EXPECT_EQ(RecordingFlowToggle(flow, true), FLOW_START_RECORDER);
    EXPECT_EQ(flow.phase, RecordingPhase::Idle);  // only the recorder's answer starts it
    EXPECT_EQ(RecordingFlowStarted(flow, false), FLOW_SHOW_COCKPIT);
    EXPECT_EQ(flow.phase, RecordingPhase::Idle);
    EXPECT_FALSE(RecordingFlowIsRecording(flow));
}

TEST(RecordingFlow, SecondPressStopsThirdOnlyShowsTheCockpit)
{
    RecordingFlow flow = Running();
    EXPECT_EQ(RecordingFlowToggle(flow, true), FLOW_REQUEST_STOP | FLOW_SHOW_COCKPIT);
    EXPECT_TRUE(RecordingFlowStopRequested(flow));
    EXPECT_TRUE(RecordingFlowIsRecording(flow));
    EXPECT_EQ(RecordingFlowToggle(flow, true), FLOW_SHOW_COCKPIT);
    EXPECT_EQ(RecordingFlowToggle(flow, false), FLOW_SHOW_COCKPIT);
    EXPECT_EQ(RecordingFlowRequestStop(flow), 0u);  // a worker's stop while stopping is ignored

    EXPECT_EQ(RecordingFlowEnded(flow), 0u);
    EXPECT_EQ(flow.phase, RecordingPhase::Idle);
    EXPECT_EQ(RecordingFlowToggle(flow, true), FLOW_START_RECORDER);  // a new one may start
}

TEST(RecordingFlow, WorkerStopOnlyForARunningRecording)
{
    RecordingFlow idle{};
    EXPECT_EQ(RecordingFlowRequestStop(idle), 0u);
    EXPECT_EQ(idle.phase, RecordingPhase::Idle);

    RecordingFlow flow = Running();
    EXPECT_EQ(RecordingFlowRequestStop(flow), FLOW_REQUEST_STOP);
    EXPECT_EQ(RecordingFlowRequestStop(flow), 0u);
    EXPECT_EQ(flow.phase, RecordingPhase::Stopping);
}

TEST(RecordingFlow, CloseWaitsForTheRecordingAndASecondCloseIsIgnored)
{
    RecordingFlow idle{};
    EXPECT_EQ(RecordingFlowClose(idle), FLOW_DESTROY_WINDOW);
    EXPECT_FALSE(idle.closeRequested);

    RecordingFlow flow = Running();
    EXPECT_EQ(RecordingFlowClose(flow), FLOW_LOG_CLOSING | FLOW_REQUEST_STOP);
    EXPECT_TRUE(flow.closeRequested);
    EXPECT_EQ(RecordingFlowClose(flow), 0u);
    EXPECT_EQ(RecordingFlowToggle(flow, true), FLOW_SHOW_COCKPIT);
    EXPECT_EQ(RecordingFlowEnded(flow), FLOW_DESTROY_WINDOW);
}

TEST(RecordingFlow, CloseWhileAlreadyStoppingDoesNotStopTwice)
{
    RecordingFlow flow = Running();
    RecordingFlowToggle(flow, true);
    EXPECT_EQ(RecordingFlowClose(flow), FLOW_LOG_CLOSING);
    EXPECT_EQ(RecordingFlowEnded(flow), FLOW_DESTROY_WINDOW);
}
