#include "service/pin_probe.h"

#include "service/curl_transfer_linux.h"

ServerChain FetchServerChain(const WString& host, std::uint16_t port) {
    if (host.empty() || host.size() > 255 || port == 0) return ServerChain();
    // Only a bare host name: anything that would change the URL's meaning is refused.
    for (const char16_t c : host) {
        if (c <= u' ' || c == u'/' || c == u'\\' || c == u'?' || c == u'#' || c == u'@') return ServerChain();
    }
    CurlTransfer probe;
    probe.method = "HEAD";
    // An IPv6 literal as a bare host name needs its brackets in a URL.
    std::string name = WideToUtf8(host);
    if (name.find(':') != std::string::npos && name.front() != '[') name = "[" + name + "]";
    probe.url = BuildRequestUrl(true, name, port, "/");
    // As a browser would look, and briefly: the page waits on this.
    probe.userAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
                      "Chrome/120.0.0.0 Safari/537.36 Edg/120.0.0.0";
    probe.verifyPeer = false;
    probe.collectChain = true;
    probe.deadlineMs = 3000;
    try {
        return RunCurlTransfer(probe).chain;
    } catch (...) {
        return ServerChain();
    }
}
