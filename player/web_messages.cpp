#include "player/web_messages.h"

namespace {

bool IsWordOrQuoted(const WString& message, WStringView word) {
    if (message == word) return true;
    return message.size() == word.size() + 2 && message.front() == u'"' && message.back() == u'"' &&
           WStringView(message).substr(1, word.size()) == word;
}

} // namespace

PlayerMessage ClassifyPlayerMessage(const WString& message) {
    if (IsWordOrQuoted(message, u"requestPrint")) return PlayerMessage::RequestPrint;
    if (IsWordOrQuoted(message, u"toggleFullscreen")) return PlayerMessage::ToggleFullscreen;
    if (IsWordOrQuoted(message, u"pageLoaded")) return PlayerMessage::PageLoaded;
    return PlayerMessage::Ignored;
}

void DispatchPlayerMessage(const WString& message, bool& shown, const PlayerMessageActions& actions) {
    const auto run = [](const std::function<void()>& action) {
        if (action) action();
    };
    switch (ClassifyPlayerMessage(message)) {
    case PlayerMessage::RequestPrint: run(actions.print); break;
    case PlayerMessage::ToggleFullscreen: run(actions.toggleFullscreen); break;
    case PlayerMessage::PageLoaded:
        // The ready handler shows the window as a rule; a page that reports
        // before that must not leave the player hidden.
        if (!shown) {
            shown = true;
            run(actions.show);
        }
        break;
    case PlayerMessage::Ignored: break;
    }
}

InitScreenMessage ClassifyInitScreenMessage(const WString& message) {
    if (message == u"btn_home") return InitScreenMessage::Home;
    if (message == u"btn_back") return InitScreenMessage::Back;
    if (message == u"btn_fullscreen") return InitScreenMessage::Fullscreen;
    return InitScreenMessage::Ignored;
}

void DispatchInitScreenMessage(const WString& message, const InitScreenActions& actions) {
    switch (ClassifyInitScreenMessage(message)) {
    case InitScreenMessage::Home:
        if (actions.home) actions.home();
        break;
    case InitScreenMessage::Back:
        if (actions.canGoBack && actions.back && actions.canGoBack()) actions.back();
        break;
    case InitScreenMessage::Fullscreen:
        if (actions.toggleFullscreen) actions.toggleFullscreen();
        break;
    case InitScreenMessage::Ignored: break;
    }
}

WString PrintResultJson(PrintOutcome outcome) {
    switch (outcome) {
    case PrintOutcome::Cancelled:
        return uR"({"type":"printResult","status":"cancelled"})";
    case PrintOutcome::EnvironmentUnavailable:
        return uR"({"type":"printResult","status":"error","message":"Failed to create print environment"})";
    case PrintOutcome::SettingsFailed:
        return uR"({"type":"printResult","status":"error","message":"Failed to create print settings"})";
    case PrintOutcome::PrinterNameFailed:
        return uR"({"type":"printResult","status":"error","message":"Failed to set printer name"})";
    case PrintOutcome::PrintApiUnavailable:
        return uR"({"type":"printResult","status":"error","message":"Print API not available"})";
    case PrintOutcome::Succeeded:
        return uR"({"type":"printResult","status":"success","message":"Print job sent successfully."})";
    case PrintOutcome::PrinterUnavailable:
        return uR"({"type":"printResult","status":"error","message":"The selected printer is unavailable."})";
    case PrintOutcome::UnknownStatus:
        return uR"({"type":"printResult","status":"error","message":"Print failed with unknown error."})";
    case PrintOutcome::PrintFailed:
        break;
    }
    return uR"({"type":"printResult","status":"error","message":"Print failed. Please check your printer."})";
}

PrintOutcome PrintCompletionOutcome(bool callFailed, int printStatus) {
    if (callFailed) return PrintOutcome::PrintFailed;
    if (printStatus == 0) return PrintOutcome::Succeeded;
    if (printStatus == 1) return PrintOutcome::PrinterUnavailable;
    return PrintOutcome::UnknownStatus;
}
