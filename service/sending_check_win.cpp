// The sending-request check and the cancellation that goes with it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "service/sending_check_win.h"

#include <cstring>

#include "service/server_chain_win.h"

namespace {

// Socket handles are kernel handles, multiples of 4. The scan runs only
// after a refusal; a process holding more handles than this is not expected.
constexpr ULONG_PTR kHandleScanLimit = ULONG_PTR(1) << 20;

bool SameEndpoint(const sockaddr_storage& a, const SOCKADDR_STORAGE& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET) {
        const auto& x = reinterpret_cast<const sockaddr_in&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in&>(b);
        return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
        return x.sin6_port == y.sin6_port && std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return false;
}

// Shuts down the socket of the request's connection, found by its two
// endpoints: WinHTTP does not hand out the socket itself. Afterwards every
// send on it fails, so not one request byte reaches the server.
bool ShutDownConnection(HINTERNET request) {
    WINHTTP_CONNECTION_INFO info{};
    info.cbSize = sizeof(info);
    DWORD size = sizeof(info);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_CONNECTION_INFO, &info, &size)) return false;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    bool done = false;
    for (ULONG_PTR value = 4; value < kHandleScanLimit && !done; value += 4) {
        const SOCKET candidate = static_cast<SOCKET>(value);
        sockaddr_storage peer{};
        int length = sizeof(peer);
        // The peer first: for a handle that is no socket it fails without
        // a call into the system.
        if (getpeername(candidate, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
        if (!SameEndpoint(peer, info.RemoteAddress)) continue;
        sockaddr_storage local{};
        length = sizeof(local);
        if (getsockname(candidate, reinterpret_cast<sockaddr*>(&local), &length) != 0) continue;
        if (!SameEndpoint(local, info.LocalAddress)) continue;
        done = shutdown(candidate, SD_BOTH) == 0;
    }
    WSACleanup();
    return done;
}

bool Accepts(HINTERNET request, SendingCheck& check) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof(certificate);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size)) certificate = nullptr;
    bool accepted = false;
    if (check.kind == SendingCheck::Kind::Pins) {
        check.chain = ServerChainFromCertificate(certificate);
        accepted = check.chain.haveCertificate && ChainMatchesPins(check.chain, check.pins);
    } else {
        accepted = ChainTrustedWithAnchors(certificate, check.host, ExtraTrustAnchors());
    }
    if (certificate != nullptr) CertFreeCertificateContext(certificate);
    return accepted;
}

void CALLBACK OnStatus(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
    SendingCheck& check = *reinterpret_cast<SendingCheck*>(context);
    check.ran = true;
    // A plain request has no certificate to judge.
    if (check.kind == SendingCheck::Kind::None || Accepts(request, check)) return;
    check.refused = true;
    check.handleClosed = CancelSending(request);
}

} // namespace

bool CancelSending(HINTERNET request) {
    ShutDownConnection(request);
    return WinHttpCloseHandle(request) != FALSE;
}

void ArmSendingCheck(HINTERNET request, SendingCheck& check) {
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&check);
    WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    WinHttpSetStatusCallback(request, OnStatus, WINHTTP_CALLBACK_STATUS_SENDING_REQUEST, 0);
}
