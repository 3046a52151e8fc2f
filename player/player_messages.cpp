#include "player/player_messages.h"

namespace Messages {

WString PlayerInitFailedAfterRetries() { return u"WebView2 initialization failed after retries."; }

WString PrintNotice(PrintOutcome outcome) {
    switch (outcome) {
    case PrintOutcome::Cancelled: return {};
    case PrintOutcome::Succeeded: return u"Printed.\nتمت الطباعة.";
    case PrintOutcome::PrinterUnavailable:
        return u"The printer is unavailable.\nالطابعة غير متاحة.";
    default: break;
    }
    return u"Printing failed.\nتعذرت الطباعة.";
}

WString ContentRecovering() {
    return u"The content stopped unexpectedly and is being reloaded...\nتوقف المحتوى بشكل غير متوقع، وتجري إعادة تحميله...";
}

WString PlayerInitFailed() { return u"Failed to initialize WebView2.\nPlease restart the application."; }

} // namespace Messages
