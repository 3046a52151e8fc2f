// Set-Cookie lines of answers the Windows player fetches for its browser,
// read as a browser's cookie store takes them.
#include <gtest/gtest.h>

#include "player/response_cookies.h"

namespace {

constexpr double kNow = 1'765'000'000;

std::optional<ResponseCookie> Read(const char16_t* line, const char16_t* host = u"learn.tovani.test",
                                   const char16_t* path = u"/api/player/progress?x=1") {
    return ReadSetCookie(line, host, path, kNow);
}

} // namespace

TEST(ResponseCookies, AreStoredAsABrowserStoresThem) {
    // Host-only, the request's directory as path, the flags kept; Lax unless named.
    auto c = Read(u" sid = a=b ; Secure; HttpOnly; Expires=Wed, 21 Oct 2026 07:28:00 GMT");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, u"sid");
    EXPECT_EQ(c->value, u"a=b");
    EXPECT_EQ(c->domain, u"learn.tovani.test");
    EXPECT_EQ(c->path, u"/api/player");
    EXPECT_EQ(c->expires, 1792567680.0);
    EXPECT_TRUE(c->secure && c->httpOnly);
    EXPECT_EQ(c->sameSite, ResponseCookie::SameSite::Lax);
    // A domain the host is under; Max-Age wins over Expires, whatever the order.
    c = Read(u"pref=dark; Max-Age=3600; Domain=.Tovani.test; Path=/; SameSite=Strict; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->domain, u".tovani.test");
    EXPECT_EQ(c->path, u"/");
    EXPECT_EQ(c->expires, kNow + 3600);
    EXPECT_EQ(c->sameSite, ResponseCookie::SameSite::Strict);
    // Gone at once; a session cookie; an address is host-only even when named.
    EXPECT_EQ(Read(u"old=1; Max-Age=0")->expires, 1.0);
    EXPECT_FALSE(Read(u"s=1; Expires=not a date")->expires);
    EXPECT_EQ(Read(u"ip=1; Domain=127.0.0.1", u"127.0.0.1")->domain, u"127.0.0.1");

    // What a browser refuses: another site's domain, a sibling, a bare suffix
    // of the name, no name, unkept prefixes, SameSite=None in the clear.
    for (const char16_t* refused : {u"x=1; Domain=evil.test", u"x=1; Domain=other.tovani.test", u"x=1; Domain=ovani.test",
                                    u"=1", u"novalue", u"__Secure-x=1", u"__Host-x=1; Secure; Path=/a",
                                    u"__Host-x=1; Secure; Path=/; Domain=tovani.test", u"x=1; SameSite=None"}) {
        EXPECT_FALSE(Read(refused)) << WideToUtf8(refused);
    }
    EXPECT_TRUE(Read(u"__Host-x=1; Secure; Path=/"));

    EXPECT_EQ(SetCookieValues(u"Content-Type: text/html\r\nset-cookie: a=1; Path=/\r\nSet-Cookie:b=2\r\nX: y"),
              (std::vector<WString>{u"a=1; Path=/", u"b=2"}));
    EXPECT_EQ(CookieHeader({{u"a", u"1"}, {u"b", u"x y"}}), u"a=1; b=x y");
}
