// The process-wide state the caller polls: progress, job status, the trace switch and
// the bounded device information.
#include "VepFixture.h"

namespace {

class VepStateTest : public VepFixture {};

TEST_F(VepStateTest, ProgressIsAPercentEvenWithNothingToFetch) {
    state_.ResetProgress();
    EXPECT_EQ(state_.Progress(), 0);
    state_.SetSize(0);
    EXPECT_EQ(state_.Progress(), 100);
    state_.SetSize(3);
    state_.SetCount(1);
    EXPECT_EQ(state_.Progress(), 33);
    state_.SetCount(7);
    EXPECT_EQ(state_.Progress(), 100);
    state_.SetSize(-2);
    EXPECT_EQ(state_.Progress(), 0);
}

TEST_F(VepStateTest, AFailedJobStaysFailedAfterItsThreadEnded) {
    EXPECT_EQ(state_.Status(), 0);
    state_.thCnt = 1;
    state_.thStatus = 5;
    EXPECT_EQ(state_.Status(), 1);
    state_.thCnt = 0;
    EXPECT_EQ(state_.Status(), -1);
    EXPECT_EQ(state_.Status(), -1);
    state_.thStatus = 0;
    EXPECT_EQ(state_.Status(), 0);
}

TEST_F(VepStateTest, TheTraceIsWrittenOnlyInDebugModeAndCopiesStayInTheirBlock) {
    state_.trace.SetEnabled(false);
    state_.trace.Line("hidden %d", 1);
    EXPECT_EQ(Trace(), "");
    state_.trace.SetEnabled(true);
    const BYTE frame[] = {'E', 'N', 'D', 0xFF, 0xFF};
    state_.trace.Frame(frame, sizeof(frame));
    EXPECT_EQ(Trace(), "CMD : 45 4E 44 FF FF \n");

    const BYTE profile[14] = {'O', 'K', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    state_.SetDeviceInfo(70, profile, sizeof(profile));
    state_.SetDeviceInfo(72, profile, sizeof(profile));
    EXPECT_EQ(state_.deviceInfo[70], 'O');
    EXPECT_EQ(state_.deviceInfo[71], 'K');
}

}  // namespace
