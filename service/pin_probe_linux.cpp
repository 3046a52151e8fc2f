#include "service/pin_probe.h"

#include "common/masking.h"
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
    probe.userAgent = UnmaskConstant(Config::kUserAgent);
    probe.verifyPeer = false;
    probe.collectChain = true;
    try {
        return RunCurlTransfer(probe).chain;
    } catch (...) {
        return ServerChain();
    }
}
