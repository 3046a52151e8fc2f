// Where the installer download follows a redirect: https only, every form of
// Location a server may send resolved as a browser resolves it, and nothing
// that could smuggle another scheme or a line break onto the wire.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/installer_download_win.h"

namespace {

TEST(InstallerRedirect, FollowsHttpsInEveryFormAndNothingElse) {
    const WString base = u"https://go.example.test/fwlink/?LinkId=1&x=y";
    const std::vector<std::pair<WString, WString>> cases = {
        {u"https://dl.example.test/a/setup.exe", u"https://dl.example.test/a/setup.exe"},
        {u"HTTPS://dl.example.test/b", u"HTTPS://dl.example.test/b"},
        {u"//cdn.example.test/c.exe", u"https://cdn.example.test/c.exe"},
        {u"/d/setup.exe?v=2", u"https://go.example.test:443/d/setup.exe?v=2"},
        {u"e.exe", u"https://go.example.test:443/fwlink/e.exe"},
        {u"f/g.exe?h=i:j", u"https://go.example.test:443/fwlink/f/g.exe?h=i:j"},
        // Refused: another scheme, a downgrade, a damaged or empty text.
        {u"http://dl.example.test/setup.exe", u""},
        {u"ftp://dl.example.test/setup.exe", u""},
        {u"file:///C:/Windows/System32/calc.exe", u""},
        {u"javascript:alert(1)", u""},
        {u"https://dl.example.test/a b", u""},
        {u"https://dl.example.test/a\r\nX-Injected: 1", u""},
        {u"https:///no-host", u""},
        {u"", u""},
    };
    for (const auto& [location, expected] : cases) {
        EXPECT_EQ(WideToUtf8(ResolveRedirect(base, location)), WideToUtf8(expected)) << WideToUtf8(location);
    }
}

} // namespace
