// The browser host's probe of a pinned host on Linux.
#include "player/browser_rules.h"
#include "service/pin_probe.h"

namespace WebView {

ProbeResult ProbeBrowserHost(const WString& host, std::uint16_t port) {
    ProbeResult result;
    // Only a bare host name: anything else is no host to open.
    if (!IsBareHostName(host) || port == 0) return result;
    result.chain = FetchServerChain(host, port);
    // No handshake (refused, unreachable, too slow) is a failed exchange: the
    // request goes on and the host is not probed again.
    result.outcome = result.chain.haveCertificate ? ProbeResult::Outcome::Responded : ProbeResult::Outcome::ExchangeFailed;
    return result;
}

} // namespace WebView
