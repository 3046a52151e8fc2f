#include "links/url_classify.h"

#include "common/url_host.h"
#include "links/player_content.h"

namespace {
constexpr WStringView kYouTubeDomain = u"youtube.com";
constexpr WStringView kYouTubeShortDomain = u"youtu.be";
constexpr WStringView kYouTubeShortPrefix = u"youtu.be/";
constexpr WStringView kZoomDomain = u"zoom.us";
constexpr WStringView kYoutubeEmbedBase = u"https://www.youtube.com/embed/";

constexpr auto npos = WStringView::npos;

// End of an id: the first of the given stops at or after start, else the end.
std::size_t IdEnd(WStringView u, std::size_t start, WStringView stops) {
    for (char16_t stop : stops) {
        const std::size_t at = u.find(stop, start);
        if (at != npos) return at;
    }
    return u.size();
}

WString OriginParameter() {
    return UrlEncode(PlayerContent.domain);
}
} // namespace

// By the host the address leads to: the services' names anywhere else in an
// address (a path, a query, a fragment, user info) make nothing YouTube or Zoom.
bool IsYouTubeUrl(WStringView url) {
    const WString host = WebHostOf(url);
    return HostIsOrIsUnder(host, kYouTubeDomain) || HostIsOrIsUnder(host, kYouTubeShortDomain);
}

bool IsZoomUrl(WStringView url) { return HostIsOrIsUnder(WebHostOf(url), kZoomDomain); }

WString ToYouTubeEmbedUrl(WStringView u) {
    const WString l = ToLowerCopy(u);
    WString id;
    std::size_t p = 0;
    if ((p = l.find(kYouTubeShortPrefix)) != npos) {
        const std::size_t start = p + kYouTubeShortPrefix.size();
        id = WString(u.substr(start, IdEnd(u, start, u"?") - start));
    } else if (l.find(u"/embed/") != npos) {
        if (u.find(u"origin=") != npos) return WString(u);
        const WStringView separator = u.find(u'?') != npos ? u"&" : u"?";
        return WString(u) + WString(separator) + u"origin=" + OriginParameter();
    } else if ((p = l.find(u"/shorts/")) != npos) {
        const std::size_t start = p + 8;
        id = WString(u.substr(start, IdEnd(u, start, u"/?") - start));
    } else if ((p = l.find(u"/live/")) != npos) {
        const std::size_t start = p + 6;
        id = WString(u.substr(start, IdEnd(u, start, u"/?") - start));
    } else if ((p = l.find(u"v=")) != npos) {
        const std::size_t start = p + 2;
        id = WString(u.substr(start, IdEnd(u, start, u"&") - start));
    } else {
        return WString(u);
    }
    if (id.empty()) return WString(u);
    while (!id.empty() && id.back() == u'/') id.pop_back();
    return WString(kYoutubeEmbedBase) + id + u"?origin=" + OriginParameter();
}
