#pragma once
// Which certificate errors of the browser's connections are overridden.
// Chromium trusts only the system's roots; the program's own rules decide
// the rest: a pinned host is trusted by its pins, any other host only when
// its chain leads to one of the profile's extra trust anchors.
#include <QList>
#include <QSslCertificate>
#include <QUrl>

#include "service/pins.h"

namespace WebView {

// The probe used for a pinned host whose presented chain alone misses the
// pins (a root it did not send may carry the pin).
using ChainFetcher = std::function<ServerChain(const WString& host, std::uint16_t port)>;

// errorType is QWebEngineCertificateError::type(); chain is leaf first.
bool ShouldAcceptCertificateError(const QUrl& url, int errorType, const QList<QSslCertificate>& chain,
                                  const ChainFetcher& fetch);

// The SubjectPublicKeyInfo of the leaf and of each issuer whose signature
// over the certificate below it verifies, completed towards a known root.
ServerChain ChainFromCertificates(const QList<QSslCertificate>& chain);

// True when the chain verifies for host up to one of the profile's extra
// trust anchors (validity dates, name and purpose included).
bool ChainEndsAtExtraAnchor(const QList<QSslCertificate>& chain, const QString& host);

} // namespace WebView
