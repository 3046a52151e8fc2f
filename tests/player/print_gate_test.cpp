#include <gtest/gtest.h>

#include "player/print_gate.h"

// One print at a time; after a cancel the page's requests are ignored for
// the quiet time, after a print that went its way they are not.
TEST(PrintGate, OnePrintAtATimeAndQuietAfterACancel) {
    using namespace std::chrono_literals;
    PrintGate gate;
    const PrintGate::Clock::time_point t0{};
    ASSERT_TRUE(gate.Begin(t0));
    EXPECT_TRUE(gate.Busy());
    EXPECT_FALSE(gate.Begin(t0 + 10s)) << "a second dialog over the first";
    gate.Finish(true, t0 + 1s);
    EXPECT_FALSE(gate.Busy());
    EXPECT_FALSE(gate.Begin(t0 + 1s + 300ms));
    EXPECT_FALSE(gate.Begin(t0 + 1s + PrintGate::kCancelQuiet - 1ms));
    ASSERT_TRUE(gate.Begin(t0 + 1s + PrintGate::kCancelQuiet));
    gate.Finish(false, t0 + 5s);
    EXPECT_TRUE(gate.Begin(t0 + 5s + 1ms)) << "a print that went its way leaves no quiet time";
}
