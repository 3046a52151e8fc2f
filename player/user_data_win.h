#pragma once
// Windows backend only: the per-user browser data folder under the local
// application-data folder (%LOCALAPPDATA%\Tovani\WebView2Data).
#include "common/text.h"

namespace WebView {

// Creates the product's folder (an existing one, or a failure, is ignored);
// the browser runtime creates the data folder itself.
WString UserDataFolder();

} // namespace WebView
