#pragma once
// Which certificate errors of the browser's connections are overridden.
// Chromium trusts only the system's roots; the program's own rules decide
// the rest.
#include <QList>
#include <QSslCertificate>
#include <QUrl>

#include "service/pins.h"

namespace WebView {

// errorType is QWebEngineCertificateError::type(); chain is leaf first. A
// pinned host is reached only through the browser relay, whose checked
// connection stands behind the certificate it issued: that certificate is
// accepted, any other for a pinned host is not (it did not come through the
// relay). An unpinned host needs a chain to one of the extra trust anchors.
bool ShouldAcceptCertificateError(const QUrl& url, int errorType, const QList<QSslCertificate>& chain);

// The SubjectPublicKeyInfo of the leaf and of each issuer whose signature
// over the certificate below it verifies, completed towards a known root.
ServerChain ChainFromCertificates(const QList<QSslCertificate>& chain);

// True when the chain verifies for host up to one of the profile's extra
// trust anchors (validity dates, name and purpose included).
bool ChainEndsAtExtraAnchor(const QList<QSslCertificate>& chain, const QString& host);

} // namespace WebView
