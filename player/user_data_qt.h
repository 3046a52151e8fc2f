#pragma once
// The per-user browser data folder on Linux.
#include "common/text.h"

namespace WebView {

// ~/.local/share/Tovani/WebView2Data (the generic data location of the user);
// its parent folder is created, the browser creates the folder itself.
WString UserDataFolder();

} // namespace WebView
