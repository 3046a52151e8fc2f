// The player against hostile pages and hostile service answers, end to end
// in the real browser on a virtual display: what they try reaches nobody
// and runs nothing, and genuine contents still show.
#include <QApplication>

#include "links/player_content.h"
#include "player/webview_host_qt.h"
#include "tests/player_e2e/outside_listener.h"
#include "tests/player_e2e/player_harness.h"
#include "tests/support/test_support.h"

using namespace PlayerTesting;

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

class Hostile : public PlayerTest {
protected:
    bool PageComplete(const char* path) {
        return RunJs(Text(std::string("location.pathname === '") + path + "' && document.readyState === 'complete'"))
            .toBool();
    }
};

} // namespace

// A content page sends the player to an outside host through an address
// whose user info names a host the navigation policy allows: the policy
// reads the host the browser would go to, and the outside host hears nothing.
TEST_F(Hostile, UserInfoNamingAnAllowedHostLeadsNowhere) {
    OutsideListener outside("127.0.0.7");
    ASSERT_TRUE(outside.listening());
    ASSERT_TRUE(OpenContent("https://127.0.0.1:47443/media/page.html"));
    ASSERT_TRUE(WaitFor([&] { return PageComplete("/media/page.html"); }));

    const std::string target = outside.HostPort();
    for (const std::string& address :
         {"http://youtube.com:x@" + target + "/a", "http://www.youtube.com@" + target + "/b",
          "http://127.0.0.1:47443@" + target + "/c", "http://vimeo.com:443@" + target + "/d",
          "http://" + target + "/plain"}) {
        RunJs(Text("location.href = '" + address + "'; true"));
        Pump(1500);
        EXPECT_EQ(RunJs(Text("location.href")).toString().toStdString(), "https://127.0.0.1:47443/media/page.html")
            << address;
    }
    EXPECT_EQ(outside.Connections(), 0);
    EXPECT_TRUE(outside.Requests().empty());

    // The listener does hear what the page may send: an image it loads.
    RunJs(Text("new Image().src = 'http://" + target + "/image'; true"));
    EXPECT_TRUE(WaitFor([&] { return !outside.Requests().empty(); }, 10000)) << "the outside listener heard nothing at all";
}
