// The browser host's probe of a pinned host on Windows.
#include "player/webview_host_win.h"
#include "service/sending_check_win.h"
#include "service/server_chain_win.h"
#include "service/winhttp_handle_win.h"

namespace WebView {

ProbeResult ProbeBrowserHost(const WString& host, std::uint16_t port) {
    ProbeResult result;
    // Only a bare host name reaches WinHTTP: anything else is no host to open.
    if (!IsBareHostName(host) || port == 0) return result;
    // Handles of its own: the probe shares nothing with the transport's session.
    InternetHandle session(WinHttpOpen(WinText(kBrowserProbeUserAgent), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return result;
    WinHttpSetTimeouts(session.get(), kBrowserProbeTimeoutMs, kBrowserProbeTimeoutMs, kBrowserProbeTimeoutMs,
                       kBrowserProbeTimeoutMs);
    InternetHandle connection(WinHttpConnect(session.get(), WinText(host), port, 0));
    if (!connection) return result;
    InternetHandle request(WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return result;
    SetRequestOptions(request.get(), false, kTrustPinsOnlyFlags);
    BoundResponseWait(request.get(), kBrowserProbeTimeoutMs);
    // A server that misses the host's pins is judged between its handshake
    // and the HEAD, and cut off there: it learns nothing of the player.
    SendingCheck check;
    if (const std::optional<PinEntry> entry = FindPinEntry(host); entry && !entry->pins.empty()) {
        check.kind = SendingCheck::Kind::Pins;
        check.host = host;
        check.pins = *entry;
        ArmSendingCheck(request.get(), check);
    }
    const bool sent =
        WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE;
    if (check.handleClosed) request.Forget();
    if (check.refused || (check.ran && check.chain.haveCertificate)) {
        // The chain that was judged is the answer, whatever the HEAD then
        // does: a slow server still had its handshake looked at.
        result.outcome = ProbeResult::Outcome::Responded;
        result.chain = check.chain;
        return result;
    }
    if (!sent || !WinHttpReceiveResponse(request.get(), nullptr)) {
        result.outcome = ProbeResult::Outcome::ExchangeFailed;
        return result;
    }
    result.outcome = ProbeResult::Outcome::Responded;
    result.chain = ServerChainFromRequest(request.get());
    return result;
}

} // namespace WebView
