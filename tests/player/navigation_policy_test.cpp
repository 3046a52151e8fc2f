#include <gtest/gtest.h>

#include "player/navigation_policy.h"

namespace {

PlayerContentRecord Content(const WString& url, const WString& type, const WString& domain = u"https://lms.example.edu/") {
    PlayerContentRecord content;
    content.url = url;
    content.contentType = type;
    content.domain = domain;
    return content;
}

} // namespace

TEST(NavigationHelpers, AddressPartsWithoutQueryFragmentOrPort) {
    EXPECT_EQ(StripQueryAndFragment(u"https://a.test/x?y=1#z"), u"https://a.test/x");
    EXPECT_EQ(StripQueryAndFragment(u"https://a.test/x#z?y"), u"https://a.test/x");
    EXPECT_EQ(StripQueryAndFragment(u"https://a.test/x"), u"https://a.test/x");

    EXPECT_EQ(HostOf(u"https://Video.Example.COM:8443/path"), u"video.example.com");
    EXPECT_EQ(HostOf(u"https://example.com"), u"example.com");
    EXPECT_EQ(HostOf(u"blob:https://lms.example.edu/5f1c"), u"lms.example.edu");
    // Without "://" there is no host, "blob:" or not; odd inputs give an empty host.
    for (const WString none : {u"blob:null/5f1c", u"about:blank", u"mailto:a@b.c", u"", u"blob:", u"://", u"https://:80/"})
        EXPECT_EQ(HostOf(none), u"") << WideToUtf8(none);
}

TEST(NavigationHelpers, SameSiteByDotBoundaryOrLastTwoLabels) {
    EXPECT_TRUE(SameSite(u"example.com", u"example.com"));
    EXPECT_TRUE(SameSite(u"www.example.com", u"example.com"));
    EXPECT_TRUE(SameSite(u"example.com", u"a.b.example.com"));
    EXPECT_TRUE(SameSite(u"video.example.com", u"cdn.example.com"));
    // Only the last two labels count, even when they are a public suffix.
    EXPECT_TRUE(SameSite(u"school.edu.eg", u"other.edu.eg"));

    EXPECT_FALSE(SameSite(u"evilexample.com", u"example.com"));
    EXPECT_FALSE(SameSite(u"example.com", u"example.org"));
    EXPECT_FALSE(SameSite(u"localhost", u"otherhost"));
    EXPECT_FALSE(SameSite(u"", u""));
    EXPECT_FALSE(SameSite(u"Example.com", u"example.com")); // callers lower-case first
}

TEST(NavigationPolicyRules, AllowedSuffixesAreUsableDomainNames) {
    const std::vector<WString>& suffixes = AllowedDomainSuffixes();
    ASSERT_EQ(suffixes.size(), 39u);
    for (const WString& s : suffixes) {
        EXPECT_FALSE(s.empty());
        EXPECT_EQ(ToLowerCopy(s), s) << WideToUtf8(s) << " could never equal a lower-cased host";
        EXPECT_NE(s.front(), u'.') << WideToUtf8(s);
        EXPECT_EQ(s.find_first_of(u"/:"), WString::npos) << WideToUtf8(s);
    }
    EXPECT_EQ(&AllowedDomainSuffixes(), &suffixes);
}

TEST(NavigationPolicyRules, ContentAddressAndItsOwnSitesAreAllowed) {
    const auto video = Content(u"https://vz-4c1.b-cdn.net/lesson/play.mp4?token=abc", u"url_direct");
    EXPECT_TRUE(NavigationAllowed(u"about:blank", video));
    EXPECT_TRUE(NavigationAllowed(u"https://vz-4c1.b-cdn.net/lesson/play.mp4?token=other#t=30", video));
    EXPECT_TRUE(NavigationAllowed(u"https://vz-4c1.b-cdn.net/lesson/play.mp4", video));
    EXPECT_TRUE(NavigationAllowed(u"https://lms.example.edu/course/7", video));   // the link's site
    EXPECT_TRUE(NavigationAllowed(u"https://auth.example.edu/login", video));     // same last two labels
    EXPECT_TRUE(NavigationAllowed(u"blob:https://lms.example.edu/0d9f-11", video));
    EXPECT_TRUE(NavigationAllowed(u"HTTPS://PLAYER.VIMEO.COM/video/1", video));   // subdomain of a listed suffix
    EXPECT_TRUE(NavigationAllowed(u"https://vimeo.com/1", video));                // the suffix itself
    EXPECT_TRUE(NavigationAllowed(u"https://127.0.0.1:47443/home", video));       // the platform's own host
}

TEST(NavigationPolicyRules, UnrelatedHostsAreCancelled) {
    const auto video = Content(u"https://vz-4c1.b-cdn.net/lesson/play.mp4", u"url_direct");
    EXPECT_FALSE(NavigationAllowed(u"https://evil.example.com/phish", video));
    // The letters of a listed suffix without the dot boundary are not enough.
    EXPECT_FALSE(NavigationAllowed(u"https://notvimeo.com/", video));
    EXPECT_FALSE(NavigationAllowed(u"https://vimeo.com.evil.example/", video));
    EXPECT_FALSE(NavigationAllowed(u"about:blank#x", video));
    EXPECT_FALSE(NavigationAllowed(u"blob:null/0d9f-11", video));
    EXPECT_FALSE(NavigationAllowed(u"javascript:alert(1)", video));
    EXPECT_FALSE(NavigationAllowed(u"file:///etc/passwd", video));
}

TEST(NavigationPolicyRules, PathsBelowTheContentAddressAreAllowed) {
    // Without a host only the path rule can allow it.
    const auto page = Content(u"data:text/html,start", u"web", u"");
    EXPECT_TRUE(NavigationAllowed(u"data:text/html,start/next?x", page));
    EXPECT_FALSE(NavigationAllowed(u"data:text/html,startnext", page));
}

TEST(NavigationPolicyRules, ZoomAndYouTubeContentsStayWithinTheirService) {
    const auto youtube = Content(u"https://www.youtube.com/embed/abc?origin=x", u"url_direct", u"");
    // YouTube's hosts, and nothing that only names YouTube in its path or query.
    EXPECT_TRUE(NavigationAllowed(u"https://m.youtube.com/watch?v=abc", youtube));
    EXPECT_FALSE(NavigationAllowed(u"https://consent.example.net/youtube.com/continue", youtube));
    EXPECT_FALSE(NavigationAllowed(u"https://consent.example.net/?continue=youtube.com", youtube));
    const auto zoom = Content(u"https://us02web.zoom.us/wc/join/1", u"url_direct", u"");
    EXPECT_TRUE(NavigationAllowed(u"https://zoom.us/j/1", zoom));
    EXPECT_FALSE(NavigationAllowed(u"https://redirect.example.net/to//zoom.us/j/1", zoom));
    EXPECT_FALSE(NavigationAllowed(u"https://consent.example.net/youtube.com/continue", zoom));
}

TEST(NavigationPolicyRules, DirectVideoMayMoveBetweenHostsOfItsCdn) {
    // Hosts that merely contain a CDN entry: only direct videos on that CDN pass.
    const WString sameCdn = u"https://edge-b-cdn.net.cache.example/seg1.ts";
    EXPECT_TRUE(NavigationAllowed(sameCdn, Content(u"https://vz-1.b-cdn.net/v.mp4", u"url_direct")));
    EXPECT_TRUE(NavigationAllowed(sameCdn, Content(u"https://iframe.mediadelivery.net/embed/1", u"url_direct")));
    EXPECT_FALSE(NavigationAllowed(sameCdn, Content(u"https://vz-1.b-cdn.net/v.pdf", u"pdf")));
    EXPECT_FALSE(NavigationAllowed(sameCdn, Content(u"https://files.example.org/v.mp4", u"url_direct")));

    const WString ownVideo = u"https://tovanivideo.test.mirror.example/v";
    EXPECT_TRUE(NavigationAllowed(ownVideo, Content(u"https://player.vdocipher.com/v2/?otp=1", u"url_direct")));
    EXPECT_TRUE(NavigationAllowed(ownVideo, Content(u"https://tovanivideo.test/v/1", u"url_direct")));
    // The two CDN pairs are separate.
    EXPECT_FALSE(NavigationAllowed(ownVideo, Content(u"https://vz-1.b-cdn.net/v.mp4", u"url_direct")));
}

// Where a page may send the player: hosts are judged for web addresses
// only, YouTube and Zoom by their hosts, IP addresses only by equality.
TEST(NavigationPolicyRules, HostileTargetsAndGenuineOnes) {
    const auto video = Content(u"https://vz-4c1.b-cdn.net/lesson/play.mp4", u"url_direct", u"https://lms.example.edu/");
    const auto youtube = Content(u"https://www.youtube.com/embed/abc?origin=x", u"url_direct", u"https://lms.example.edu/");
    const auto zoom = Content(u"https://us02web.zoom.us/wc/join/1", u"url_direct", u"https://lms.example.edu/");
    const auto platform = Content(u"https://127.0.0.1:47443/media/page.html", u"web", u"https://127.0.0.1:47443");
    const auto lan = Content(u"https://192.168.1.10/lesson", u"web", u"https://192.168.1.10");
    struct Case {
        const PlayerContentRecord& content;
        const char16_t* target;
        bool allowed;
    };
    const Case cases[] = {
        // Genuine.
        {video, u"https://vz-4c1.b-cdn.net/lesson/play.mp4?token=1", true},
        {video, u"https://lms.example.edu/course/7", true},
        {video, u"blob:https://lms.example.edu/0d9f", true},
        {youtube, u"https://m.youtube.com/watch?v=abc", true},
        {youtube, u"https://youtu.be/abc", true},
        {zoom, u"https://zoom.us/j/1", true},
        {zoom, u"https://eu01web.zoom.us/wc/1", true},
        {platform, u"https://127.0.0.1:47443/home", true},
        {platform, u"https://127.0.0.1:47443/media/embed.html?x=1", true},
        {lan, u"https://192.168.1.10/next", true},
        // The services' names outside the host.
        {youtube, u"https://evil.example/youtube.com/embed/x", false},
        {youtube, u"https://evil.example/?next=youtu.be/x", false},
        {youtube, u"http://youtube.com:x@evil.example/", false},
        {youtube, u"https://www.youtube.com@evil.example/", false},
        {zoom, u"https://evil.example/to/.zoom.us/j/1", false},
        {zoom, u"https://evil.example/to//zoom.us/j/1", false},
        // Addresses without a host to judge, whatever "://" they hold.
        {youtube, u"data:text/html,<a href='://youtube.com/'>x</a>", false},
        {platform, u"data:text/html,https://127.0.0.1:47443/", false},
        {video, u"javascript://vimeo.com/%0aalert(1)", false},
        {video, u"file://vimeo.com/etc/passwd", false},
        {video, u"blob:data:text/html,://vimeo.com/", false},
        // IP addresses are the same site only when equal.
        {platform, u"https://127.5.0.1/", false},
        {platform, u"https://10.0.0.1/", false},
        {platform, u"https://0.1/", false},
        {platform, u"https://x.127.0.0.1/", false},
        {platform, u"https://127.0.0.1.evil.example/", false},
        {lan, u"https://10.20.1.10/", false},
        {lan, u"https://172.16.1.10/", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NavigationAllowed(c.target, c.content), c.allowed) << WideToUtf8(c.target) << " from " << WideToUtf8(c.content.url);
    }
    EXPECT_FALSE(SameSite(u"127.0.0.1", u"127.5.0.1"));
    EXPECT_FALSE(SameSite(u"0.0.1", u"127.0.0.1"));
    EXPECT_FALSE(SameSite(u"[::1]", u"[::2]"));
    EXPECT_TRUE(SameSite(u"127.0.0.1", u"127.0.0.1"));
}

TEST(NavigationPolicyRules, HostileAddressesNeverFault) {
    const auto video = Content(u"https://vz-1.b-cdn.net/v.mp4", u"url_direct");
    const WString odd[] = {u"", u"blob:", u"://", u":///", u"https://", u"https://.", u"https://..",
                           WString(u"https://a\0b.test/", 17), WString(100000, u'.'),
                           u"blob:https://" + WString(5000, u'a') + u":99999999999999999/",
                           WString(u"\xD800\xDFFF\xFFFF", 3)};
    for (const WString& uri : odd) EXPECT_FALSE(NavigationAllowed(uri, video)) << uri.size();
    // An empty record judges by the list alone.
    EXPECT_TRUE(NavigationAllowed(u"https://www.google.com/", PlayerContentRecord{}));
    EXPECT_TRUE(NavigationAllowed(u"", PlayerContentRecord{})); // equal to the (empty) content address
}

TEST(NavigationPolicyRules, CallbackCancelsOnlyWhatThePolicyRefuses) {
    PlayerContent = Content(u"https://vz-1.b-cdn.net/v.mp4", u"url_direct");
    bool cancel = false;
    NavigationPolicy(u"https://vimeo.com/1", cancel);
    EXPECT_FALSE(cancel);
    NavigationPolicy(u"https://evil.example.com/", cancel);
    EXPECT_TRUE(cancel);
    PlayerContent = PlayerContentRecord{};
}
