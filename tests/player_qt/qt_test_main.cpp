// The browser tests need a QApplication, made the way the program makes it.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "player/browser_environment_qt.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    // What a user's environment might carry; none of it may reach the browser.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--inherited-switch --remote-debugging-port=9555");
    qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "9556");
    // Chromium's fake camera and microphone stand in for real devices; the
    // permission decisions stay with the host. Host names under the providers'
    // suffixes and the product's own domains lead to the service's listener
    // for them (one quoted switch: the rules hold spaces).
    std::string names;
    for (const char* suffix : {"amazonaws.com", "cloudfront.net", "windows.net", "digitaloceanspaces.com", "wasabisys.com",
                               "akamaized.net", "b-cdn.net", "tovani-cdn.test", "tovanivideo.test"}) {
        names += std::string(names.empty() ? "" : ",") + "MAP *." + suffix + " 127.0.0.6";
    }
    std::string noDisplay;
    if (!WebView::ChooseWindowSystem(noDisplay)) return std::fprintf(stderr, "%s\n", noDisplay.c_str()), 1;
    WebView::PrepareBrowserProcessEnvironment("--use-fake-device-for-media-stream \"--host-resolver-rules=" + names + "\"");
    QApplication app(argc, argv);
    WebView::ForgetProcessOnlySettings();
    return RUN_ALL_TESTS();
}
