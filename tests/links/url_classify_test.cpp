#include <gtest/gtest.h>

#include "links/player_content.h"
#include "links/url_classify.h"

namespace {
class EmbedUrl : public ::testing::Test {
protected:
    void SetUp() override { PlayerContent.domain = u"https://platform.example.org"; }
    const WString origin = u"origin=https%3a%2f%2fplatform.example.org";
    WString Embed(const WString& id) { return u"https://www.youtube.com/embed/" + id + u"?" + origin; }
};
} // namespace

TEST_F(EmbedUrl, RebuildsEveryCommonYouTubeAddress) {
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/watch?v=abc123&list=PL1&t=30"), Embed(u"abc123"));
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://youtu.be/abc123?t=42"), Embed(u"abc123"));
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://YOUTU.BE/AbC123"), Embed(u"AbC123"));
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://youtube.com/shorts/sh0rt?feature=share"), Embed(u"sh0rt"));
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://youtube.com/shorts/sh0rt/extra?x=1"), Embed(u"sh0rt"));
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/live/l1ve/more"), Embed(u"l1ve"));
    // The first "v=" anywhere counts, even inside a longer parameter name.
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/watch?nav=1&v=x"), Embed(u"1"));
}

TEST_F(EmbedUrl, EmbedAddressesGainOneOriginParameter) {
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/embed/abc"), u"https://www.youtube.com/embed/abc?" + origin);
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/embed/abc?rel=0"),
              u"https://www.youtube.com/embed/abc?rel=0&" + origin);
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/embed/abc?origin=x"),
              u"https://www.youtube.com/embed/abc?origin=x");
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/embed/abc?ORIGIN=x"),
              u"https://www.youtube.com/embed/abc?ORIGIN=x&" + origin);
}

TEST_F(EmbedUrl, UnrecognisedShapesAndEmptyIdsAreReturnedUnchanged) {
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/@channel"), u"https://www.youtube.com/@channel");
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://youtu.be/"), u"https://youtu.be/");
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://youtu.be/?t=1"), u"https://youtu.be/?t=1");
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://www.youtube.com/watch?v="), u"https://www.youtube.com/watch?v=");
    // Trailing slashes leave the id; an id of only slashes still builds an address.
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://youtu.be/abc//"), Embed(u"abc"));
    EXPECT_EQ(ToYouTubeEmbedUrl(u"https://youtu.be//"), Embed(u""));
}

TEST(ClassifyUrl, YouTubeAndZoomByTheirHosts) {
    struct Case {
        const char16_t* url;
        bool youtube;
        bool zoom;
    };
    const Case cases[] = {
        // Genuine addresses of both services.
        {u"https://www.YouTube.com/watch?v=1", true, false},
        {u"https://youtube.com/shorts/x", true, false},
        {u"http://m.youtube.com/watch?v=1", true, false},
        {u"https://youtu.be/1", true, false},
        {u"https://us02web.zoom.us/j/1", false, true},
        {u"https://ZOOM.US/j/1", false, true},
        // Their names anywhere but in the host.
        {u"https://example.org/?next=youtube.com", false, false},
        {u"https://example.org/youtube.com/embed/x", false, false},
        {u"file:///etc/passwd#youtube.com/embed/", false, false},
        {u"file:///etc/passwd#https://www.youtube.com/embed/x", false, false},
        {u"javascript://youtube.com/%0aalert(1)", false, false},
        {u"data:text/html,youtu.be/x", false, false},
        {u"https://www.youtube.com@evil.example/embed/x", false, false},
        {u"https://youtube.com.evil.example/", false, false},
        {u"https://notyoutube.com/", false, false},
        {u"https://evil.example/j/.zoom.us/", false, false},
        {u"file:///x#.zoom.us", false, false},
        {u"https://myzoom.us/j/1", false, false},
        {u"zoom.us", false, false},
        {u"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsYouTubeUrl(c.url), c.youtube) << WideToUtf8(c.url);
        EXPECT_EQ(IsZoomUrl(c.url), c.zoom) << WideToUtf8(c.url);
    }
}
