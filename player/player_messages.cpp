#include "player/player_messages.h"

namespace Messages {

WString PlayerInitFailedAfterRetries() { return u"WebView2 initialization failed after retries."; }

WString PlayerInitFailed() { return u"Failed to initialize WebView2.\nPlease restart the application."; }

} // namespace Messages
