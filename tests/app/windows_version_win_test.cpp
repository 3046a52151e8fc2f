// The true Windows version under Wine: the kernel's numbers, classified as
// the start-up's version check does.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/windows_version_win.h"

TEST(WindowsVersion, ReadsTheKernelsNumbersAndClassifiesThem) {
    const WindowsVersion version = TrueWindowsVersion();
    // Wine's prefix reports a supported system by default.
    EXPECT_GE(version.major, 10u);
    EXPECT_GT(version.build, 0u);
    EXPECT_EQ(WindowsVersionClass(), ClassifyWindowsVersion(version.major, version.minor, version.build));
    EXPECT_GE(WindowsVersionClass(), 10);
}
