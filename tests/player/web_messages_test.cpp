#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "player/web_messages.h"

TEST(PageMessages, PlayerAcceptsTheThreeWordsPlainOrQuoted) {
    EXPECT_EQ(ClassifyPlayerMessage(u"requestPrint"), PlayerMessage::RequestPrint);
    EXPECT_EQ(ClassifyPlayerMessage(u"\"requestPrint\""), PlayerMessage::RequestPrint);
    EXPECT_EQ(ClassifyPlayerMessage(u"toggleFullscreen"), PlayerMessage::ToggleFullscreen);
    EXPECT_EQ(ClassifyPlayerMessage(u"\"toggleFullscreen\""), PlayerMessage::ToggleFullscreen);
    EXPECT_EQ(ClassifyPlayerMessage(u"pageLoaded"), PlayerMessage::PageLoaded);
    EXPECT_EQ(ClassifyPlayerMessage(u"\"pageLoaded\""), PlayerMessage::PageLoaded);

    for (const WString other : {u"requestprint", u"requestPrint ", u" requestPrint", u"\"requestPrint",
                                u"requestPrint\"", u"'requestPrint'", u"\"\"requestPrint\"\"", u"\"", u"\"\"",
                                u"", u"btn_home", u"{\"type\":\"requestPrint\"}"}) {
        EXPECT_EQ(ClassifyPlayerMessage(other), PlayerMessage::Ignored) << WideToUtf8(other);
    }
}

TEST(PageMessages, InitScreenAcceptsOnlyTheExactButtonWords) {
    EXPECT_EQ(ClassifyInitScreenMessage(u"btn_home"), InitScreenMessage::Home);
    EXPECT_EQ(ClassifyInitScreenMessage(u"btn_back"), InitScreenMessage::Back);
    EXPECT_EQ(ClassifyInitScreenMessage(u"btn_fullscreen"), InitScreenMessage::Fullscreen);
    for (const WString other : {u"BTN_HOME", u"btn_home ", u" btn_home", u"btn_homepage", u"\"btn_home\"",
                                u"requestPrint", u""}) {
        EXPECT_EQ(ClassifyInitScreenMessage(other), InitScreenMessage::Ignored) << WideToUtf8(other);
    }
}

TEST(PrintResults, EveryOutcomeIsOneWellFormedJsonMessage) {
    struct Case {
        PrintOutcome outcome;
        const char* status;
        const char* message; // nullptr: no message member
    };
    const Case cases[] = {
        {PrintOutcome::Cancelled, "cancelled", nullptr},
        {PrintOutcome::EnvironmentUnavailable, "error", "Failed to create print environment"},
        {PrintOutcome::SettingsFailed, "error", "Failed to create print settings"},
        {PrintOutcome::PrinterNameFailed, "error", "Failed to set printer name"},
        {PrintOutcome::PrintApiUnavailable, "error", "Print API not available"},
        {PrintOutcome::Succeeded, "success", "Print job sent successfully."},
        {PrintOutcome::PrinterUnavailable, "error", "The selected printer is unavailable."},
        {PrintOutcome::UnknownStatus, "error", "Print failed with unknown error."},
        {PrintOutcome::PrintFailed, "error", "Print failed. Please check your printer."},
    };
    for (const Case& c : cases) {
        const std::string text = WideToUtf8(PrintResultJson(c.outcome));
        const auto json = nlohmann::json::parse(text, nullptr, false);
        ASSERT_TRUE(json.is_object()) << text;
        EXPECT_EQ(json.size(), c.message ? 3u : 2u) << text;
        EXPECT_EQ(json.value("type", ""), "printResult") << text;
        EXPECT_EQ(json.value("status", ""), c.status) << text;
        if (c.message) EXPECT_EQ(json.value("message", ""), c.message) << text;
    }
    // The page sees the exact text; key order and spacing are part of it.
    EXPECT_EQ(PrintResultJson(PrintOutcome::Cancelled), u"{\"type\":\"printResult\",\"status\":\"cancelled\"}");
    EXPECT_EQ(PrintResultJson(PrintOutcome::Succeeded),
              u"{\"type\":\"printResult\",\"status\":\"success\",\"message\":\"Print job sent successfully.\"}");
}

TEST(PrintResults, CompletionMapsAFailedCallBeforeTheStatus) {
    EXPECT_EQ(PrintCompletionOutcome(true, 0), PrintOutcome::PrintFailed);
    EXPECT_EQ(PrintCompletionOutcome(false, 0), PrintOutcome::Succeeded);
    EXPECT_EQ(PrintCompletionOutcome(false, 1), PrintOutcome::PrinterUnavailable);
    EXPECT_EQ(PrintCompletionOutcome(false, 2), PrintOutcome::UnknownStatus);
    EXPECT_EQ(PrintCompletionOutcome(false, -1), PrintOutcome::UnknownStatus);
}
