#pragma once
// Where the browser keeps its per-user data: the user's application-data
// folder, the product's folder in it, and "WebView2Data" inside that.
#include "common/text.h"

namespace WebView {

// base + separator + product name.
WString UserDataParent(const WString& base, char16_t separator);
// The product's folder + separator + "WebView2Data".
WString UserDataFolderUnder(const WString& base, char16_t separator);

} // namespace WebView
