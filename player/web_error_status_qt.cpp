#include "player/web_error_status_qt.h"

namespace WebView {

namespace {

// Chromium's net error numbers (net/base/net_error_list.h).
int StatusForNetError(int code) {
    using namespace WebErrorStatus;
    switch (code) {
    case -3: return kOperationCanceled;        // ABORTED
    case -7:                                   // TIMED_OUT
    case -118: return kTimeout;                // CONNECTION_TIMED_OUT
    case -100:                                 // CONNECTION_CLOSED
    case -106: return kDisconnected;           // INTERNET_DISCONNECTED
    case -101: return kConnectionReset;        // CONNECTION_RESET
    case -102:                                 // CONNECTION_REFUSED
    case -104:                                 // CONNECTION_FAILED
    // The relay before the platform's pinned hosts answers a connection it
    // could not make (refused, unreachable, failing its pins) by refusing
    // the browser's tunnel: to the page the server could not be reached.
    case -111:                                 // TUNNEL_CONNECTION_FAILED
    case -130: return kCannotConnect;          // PROXY_CONNECTION_FAILED
    case -103: return kConnectionAborted;      // CONNECTION_ABORTED
    case -105:                                 // NAME_NOT_RESOLVED
    case -137: return kHostNameNotResolved;    // NAME_RESOLUTION_FAILED
    case -109: return kServerUnreachable;      // ADDRESS_UNREACHABLE
    case -110: return kClientCertificateContainsErrors; // SSL_CLIENT_AUTH_CERT_NEEDED
    case -115:                                 // PROXY_AUTH_REQUESTED
    case -127: return kValidProxyAuthenticationRequired; // PROXY_AUTH_UNSUPPORTED
    case -200: return kCertificateCommonNameIsIncorrect;
    case -201: return kCertificateExpired;
    case -206: return kCertificateRevoked;
    case -310:                                 // TOO_MANY_REDIRECTS
    case -311: return kRedirectFailed;         // UNSAFE_REDIRECT
    case -320:                                 // INVALID_RESPONSE
    case -324: return kErrorHttpInvalidServerResponse; // EMPTY_RESPONSE
    default: break;
    }
    if (code <= -200 && code > -300) return kCertificateIsInvalid;
    return kUnexpectedError;
}

} // namespace

int WebErrorStatusFor(QWebEngineLoadingInfo::ErrorDomain domain, int errorCode) {
    using namespace WebErrorStatus;
    switch (domain) {
    case QWebEngineLoadingInfo::HttpStatusCodeDomain:
        if (errorCode == 401) return kValidAuthenticationCredentialsRequired;
        if (errorCode == 407) return kValidProxyAuthenticationRequired;
        return kUnexpectedError;
    case QWebEngineLoadingInfo::NoErrorDomain:
        return errorCode < 0 ? StatusForNetError(errorCode) : kUnexpectedError;
    default:
        return StatusForNetError(errorCode);
    }
}

} // namespace WebView
