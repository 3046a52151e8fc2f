// The server chain of a WinHTTP connection for the pin check, and the
// browser host's probe of a pinned host.
#include "service/pin_probe.h"
#include "service/server_chain_win.h"
#include "service/winhttp_handle_win.h"

namespace {

// DER SubjectPublicKeyInfo of one certificate; empty when it cannot be encoded.
std::string EncodeSpki(PCCERT_CONTEXT certificate) {
    CERT_PUBLIC_KEY_INFO* info = &certificate->pCertInfo->SubjectPublicKeyInfo;
    DWORD size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, 0, nullptr, nullptr, &size) || size == 0) {
        return {};
    }
    std::string der(size, '\0');
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, 0, nullptr, der.data(), &size)) return {};
    der.resize(size);
    return der;
}

// True when the element's certificate was issued by the next one: its issuer
// name is that certificate's subject and its signature verifies with that
// certificate's key. The chain engine's own verdict on the signature counts,
// and the signature is checked here as well, so that no engine that finds an
// issuer by name or key id alone can lend a forged certificate a genuine
// issuer.
bool IssuedBy(const CERT_CHAIN_ELEMENT* subject, const CERT_CHAIN_ELEMENT* issuer) {
    if ((subject->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0) return false;
    PCCERT_CONTEXT subjectCertificate = subject->pCertContext;
    PCCERT_CONTEXT issuerCertificate = issuer->pCertContext;
    if (!CertCompareCertificateName(X509_ASN_ENCODING, &subjectCertificate->pCertInfo->Issuer,
                                    &issuerCertificate->pCertInfo->Subject)) {
        return false;
    }
    return CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                             const_cast<CERT_CONTEXT*>(subjectCertificate),
                                             CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                             const_cast<CERT_CONTEXT*>(issuerCertificate), 0, nullptr) != FALSE;
}

} // namespace

ServerChain ServerChainFromCertificate(PCCERT_CONTEXT certificate) {
    ServerChain chain;
    if (certificate == nullptr) return chain;
    chain.haveCertificate = true;
    // No usage requirement: the engine finds the issuers among what the
    // server sent, the system's stores and the profile's anchors.
    const std::vector<std::string>& anchors = ExtraTrustAnchors();
    HCERTSTORE support = anchors.empty() ? nullptr : OpenChainSupportStore(certificate, anchors);
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    PCCERT_CHAIN_CONTEXT context = nullptr;
    if (CertGetCertificateChain(nullptr, certificate, nullptr, support, &parameters, 0, nullptr, &context) &&
        context != nullptr) {
        if (context->cChain > 0 && context->rgpChain[0] != nullptr) {
            // The server's own certificate is bound to the handshake; each
            // issuer counts only while every link below it verifies, so a pin
            // is never matched past a signature that does not.
            const CERT_SIMPLE_CHAIN* simple = context->rgpChain[0];
            for (DWORD i = 0; i < simple->cElement; ++i) {
                if (i > 0 && !IssuedBy(simple->rgpElement[i - 1], simple->rgpElement[i])) break;
                std::string spki = EncodeSpki(simple->rgpElement[i]->pCertContext);
                if (!spki.empty()) chain.spkiDer.push_back(std::move(spki));
            }
        }
        CertFreeCertificateChain(context);
    }
    if (support != nullptr) CertCloseStore(support, 0);
    return chain;
}

ServerChain ServerChainFromRequest(HINTERNET request) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof(certificate);
    if (request == nullptr || !WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
        certificate == nullptr) {
        return {};
    }
    ServerChain chain = ServerChainFromCertificate(certificate);
    CertFreeCertificateContext(certificate);
    return chain;
}

ServerChain FetchServerChain(const WString& host, std::uint16_t port) {
    static const WString kBrowserAgent =
        u"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 "
        u"Safari/537.36 Edg/120.0.0.0";
    // Short-lived handles of its own: the probe must not share the
    // transport's session, and a dead host must not block for long.
    InternetHandle session(WinHttpOpen(WinText(kBrowserAgent), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return {};
    WinHttpSetTimeouts(session.get(), 3000, 3000, 3000, 3000);
    InternetHandle connection(WinHttpConnect(session.get(), WinText(host), port, 0));
    if (!connection) return {};
    InternetHandle request(WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return {};
    SetRequestOptions(request.get(), false, kTrustPinsOnlyFlags);
    BoundResponseWait(request.get(), 3000);
    if (WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        WinHttpReceiveResponse(request.get(), nullptr);
    }
    return ServerChainFromRequest(request.get());
}
