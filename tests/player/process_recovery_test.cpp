#include <gtest/gtest.h>

#include "player/process_recovery.h"

// The first failure reloads; another within the bound gives up; one after a
// quiet bound reloads again, counted from the failure before it.
TEST(ProcessRecovery, ReloadsOnceWithinTheBound) {
    using namespace std::chrono_literals;
    using Decision = ProcessRecovery::Decision;
    ProcessRecovery recovery;
    const ProcessRecovery::Clock::time_point t0{};
    EXPECT_EQ(recovery.OnFailure(t0 + 1h), Decision::Reload);
    EXPECT_EQ(recovery.OnFailure(t0 + 1h + ProcessRecovery::kBound), Decision::Reload) << "a full minute apart";
    EXPECT_EQ(recovery.OnFailure(t0 + 1h + 2 * ProcessRecovery::kBound - 1ms), Decision::GiveUp);
}
