#pragma once
// The failure of a navigation as the owners' callback reports it: the
// WebView2 web error status numbers (COREWEBVIEW2_WEB_ERROR_STATUS), mapped
// from Chromium's network error or the HTTP status Qt WebEngine reports.
// A failure is never reported as 0.
#include <QWebEngineLoadingInfo>

namespace WebView {

namespace WebErrorStatus {
inline constexpr int kCertificateCommonNameIsIncorrect = 1;
inline constexpr int kCertificateExpired = 2;
inline constexpr int kClientCertificateContainsErrors = 3;
inline constexpr int kCertificateRevoked = 4;
inline constexpr int kCertificateIsInvalid = 5;
inline constexpr int kServerUnreachable = 6;
inline constexpr int kTimeout = 7;
inline constexpr int kErrorHttpInvalidServerResponse = 8;
inline constexpr int kConnectionAborted = 9;
inline constexpr int kConnectionReset = 10;
inline constexpr int kDisconnected = 11;
inline constexpr int kCannotConnect = 12;
inline constexpr int kHostNameNotResolved = 13;
inline constexpr int kOperationCanceled = 14;
inline constexpr int kRedirectFailed = 15;
inline constexpr int kUnexpectedError = 16;
inline constexpr int kValidAuthenticationCredentialsRequired = 17;
inline constexpr int kValidProxyAuthenticationRequired = 18;
} // namespace WebErrorStatus

int WebErrorStatusFor(QWebEngineLoadingInfo::ErrorDomain domain, int errorCode);

} // namespace WebView
