#include "player/user_data_win.h"

#include <windows.h>
#include <shlobj.h>

#include "player/user_data.h"

namespace WebView {

WString UserDataFolder() {
    wchar_t base[MAX_PATH] = {};
    // Without the folder the runtime falls back to a folder beside the program.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) base[0] = L'\0';
    const WString local(reinterpret_cast<const char16_t*>(base));
    const WString parent = UserDataParent(local, u'\\');
    CreateDirectoryW(reinterpret_cast<const wchar_t*>(parent.c_str()), nullptr);
    return UserDataFolderUnder(local, u'\\');
}

} // namespace WebView
