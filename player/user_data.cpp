#include "player/user_data.h"

#include "common/app_constants.h"

namespace WebView {

WString UserDataParent(const WString& base, char16_t separator) {
    return base + separator + ApplicationConstants.productName;
}

WString UserDataFolderUnder(const WString& base, char16_t separator) {
    return UserDataParent(base, separator) + separator + u"WebView2Data";
}

} // namespace WebView
