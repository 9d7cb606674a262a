// The recording as the main window sees it, where the user waits: a stop that does not end,
// and message boxes that must keep their owner.
#include "app/recording_flow.h"

#include <gtest/gtest.h>

namespace {

// A recording whose stop was asked for by R, or by closing the window.
RecordingFlow Stopping(bool byClosing)
{
    RecordingFlow flow{};
    RecordingFlowStarted(flow, true);
    if (byClosing) RecordingFlowClose(flow);
    else RecordingFlowToggle(flow, true);
    return flow;
}

}  // namespace

// Closing first is seen through the window; here the stop asked for by R.
TEST(RecordingFlow, AStopThatDoesNotEndIsToldOnceAndClosingThenNoLongerWaits)
{
    RecordingFlow flow = Stopping(false);
    EXPECT_EQ(RecordingFlowStopOverdue(flow), FLOW_TELL_STOP_OVERDUE);
    EXPECT_EQ(RecordingFlowStopOverdue(flow), 0u);
    EXPECT_EQ(RecordingFlowClose(flow), FLOW_LOG_CLOSE_UNFINISHED | FLOW_DESTROY_WINDOW);
    EXPECT_TRUE(flow.abandoned);

    flow = Stopping(false);  // a stop that ends in time leaves the watch nothing to say
    RecordingFlowEnded(flow);
    EXPECT_EQ(RecordingFlowStopOverdue(flow), 0u);
}

TEST(RecordingFlow, TheWindowStaysWhileItsBoxesAreOpenAndGoesWithTheLast)
{
    RecordingFlow flow = Stopping(true);
    RecordingFlowBoxOpened(flow);
    RecordingFlowBoxOpened(flow);  // a second warning over the first
    EXPECT_EQ(RecordingFlowEnded(flow), 0u);
    EXPECT_EQ(RecordingFlowBoxClosed(flow), 0u);
    EXPECT_EQ(RecordingFlowBoxClosed(flow), FLOW_DESTROY_WINDOW);

    // The recording ended while the user was asked whether to close now: a plain close.
    flow = Stopping(true);
    EXPECT_EQ(RecordingFlowStopOverdue(flow), FLOW_TELL_STOP_OVERDUE | FLOW_ASK_CLOSE_NOW);
    RecordingFlowBoxOpened(flow);
    EXPECT_EQ(RecordingFlowEnded(flow), 0u);
    EXPECT_EQ(RecordingFlowBoxClosed(flow), FLOW_DESTROY_WINDOW);
    EXPECT_EQ(RecordingFlowCloseNow(flow), FLOW_DESTROY_WINDOW);
    EXPECT_FALSE(flow.abandoned);
}
