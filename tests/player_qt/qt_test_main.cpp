// The browser tests need a QApplication, made the way the program makes it.
#include <QApplication>

#include <gtest/gtest.h>

#include "player/browser_environment_qt.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    // What a user's environment might carry; none of it may reach the browser.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--inherited-switch --remote-debugging-port=9555");
    qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "9556");
    // Chromium's fake camera and microphone stand in for real devices; the
    // permission decisions stay with the host.
    WebView::PrepareBrowserProcessEnvironment("--use-fake-device-for-media-stream");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
