// Ordinary certificate validation for hosts that are not pinned, with the
// profile's extra trust anchors (the dev root CA) standing beside the system's
// roots. WinHTTP is told to let an unknown authority through; this check, run
// before any request byte is sent, then decides whether that authority is one
// of the anchors.
#include <algorithm>
#include <vector>

#include "common/masking.h"
#include "service/server_chain_win.h"

namespace {

struct StoreHandle {
    HCERTSTORE handle = nullptr;
    ~StoreHandle() {
        if (handle != nullptr) CertCloseStore(handle, 0);
    }
};

struct ChainHandle {
    PCCERT_CHAIN_CONTEXT handle = nullptr;
    ~ChainHandle() {
        if (handle != nullptr) CertFreeCertificateChain(handle);
    }
};

// The system's TLS server policy; an address literal's name is checked
// separately (NamesAddress).
DWORD SslPolicyError(PCCERT_CHAIN_CONTEXT chain, const WString& host, bool isAddress, bool allowUnknownRoot) {
    WString name = host;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = (allowUnknownRoot ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0) |
                    (isAddress ? SECURITY_FLAG_IGNORE_CERT_CN_INVALID : 0);
    ssl.pwszServerName = reinterpret_cast<WCHAR*>(name.data());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof(policy);
    policy.dwFlags = allowUnknownRoot ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
        return static_cast<DWORD>(CERT_E_CHAINING);
    }
    return status.dwError;
}

// The address bytes of an IPv4 or IPv6 literal (brackets allowed); empty for
// a host name. The parsers are ntdll's, looked up because the import
// libraries do not declare them.
std::string AddressBytes(const WString& host) {
    WString text = host;
    if (text.size() > 2 && text.front() == u'[' && text.back() == u']') text = text.substr(1, text.size() - 2);
    if (text.empty() || text.find(u'%') != WString::npos) return {};
    using Ipv4Parser = LONG(NTAPI*)(const wchar_t*, BOOLEAN, void*, USHORT*);
    using Ipv6Parser = LONG(NTAPI*)(const wchar_t*, void*, ULONG*, USHORT*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return {};
    const auto lookup = [ntdll](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)); };
    const auto* wide = reinterpret_cast<const wchar_t*>(text.c_str());
    unsigned char bytes[16] = {};
    USHORT port = 0;
    if (text.find(u':') == WString::npos) {
        const auto parse = reinterpret_cast<Ipv4Parser>(lookup("RtlIpv4StringToAddressExW"));
        if (parse != nullptr && parse(wide, TRUE, bytes, &port) >= 0) return std::string(reinterpret_cast<char*>(bytes), 4);
    } else {
        const auto parse = reinterpret_cast<Ipv6Parser>(lookup("RtlIpv6StringToAddressExW"));
        ULONG scope = 0;
        if (parse != nullptr && parse(wide, bytes, &scope, &port) >= 0) return std::string(reinterpret_cast<char*>(bytes), 16);
    }
    return {};
}

// True when the certificate names the address among its alternative names.
bool NamesAddress(PCCERT_CONTEXT certificate, const std::string& address) {
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, const_cast<CERT_EXTENSION*>(info->rgExtension));
    if (extension == nullptr) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size) ||
        names == nullptr) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice != CERT_ALT_NAME_IP_ADDRESS) continue;
        found = std::string(reinterpret_cast<const char*>(entry.IPAddress.pbData), entry.IPAddress.cbData) == address;
    }
    LocalFree(names);
    return found;
}

bool IsAnchor(PCCERT_CONTEXT certificate, const std::vector<std::string>& anchors) {
    const std::string der(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
    return std::find(anchors.begin(), anchors.end(), der) != anchors.end();
}

} // namespace

std::vector<std::string> ParsePemCertificates(const std::string& pem) {
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    std::vector<std::string> out;
    std::size_t at = 0;
    while ((at = pem.find(kBegin, at)) != std::string::npos) {
        const std::size_t end = pem.find(kEnd, at + kBegin.size());
        if (end == std::string::npos) break;
        const std::string block = pem.substr(at, end + kEnd.size() - at);
        at = end + kEnd.size();
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr) ||
            size == 0) {
            continue;
        }
        std::string der(size, '\0');
        if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                  reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr)) {
            continue;
        }
        der.resize(size);
        // Keep only what the system reads as a certificate.
        PCCERT_CONTEXT probe = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                            static_cast<DWORD>(der.size()));
        if (probe == nullptr) continue;
        CertFreeCertificateContext(probe);
        out.push_back(std::move(der));
    }
    return out;
}

const std::vector<std::string>& ExtraTrustAnchors() {
    static const std::vector<std::string> anchors = ParsePemCertificates(UnmaskConstant(Config::kExtraTrustAnchors));
    return anchors;
}

bool ChainTrustedWithAnchors(PCCERT_CONTEXT certificate, const WString& host, const std::vector<std::string>& anchors) {
    if (certificate == nullptr) return false;
    StoreHandle extra;
    extra.handle = OpenChainSupportStore(certificate, anchors);
    if (extra.handle == nullptr) return false;

    // A server certificate must be good for server authentication, as the
    // system's own TLS validation requires.
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                      const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 3;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    ChainHandle chain;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, extra.handle, &parameters, 0, nullptr, &chain.handle) ||
        chain.handle == nullptr) {
        return false;
    }

    const std::string address = AddressBytes(host);
    const bool isAddress = !address.empty();
    if (isAddress && !NamesAddress(certificate, address)) return false;
    if (chain.handle->cChain == 0 || chain.handle->rgpChain[0] == nullptr) return false;
    const CERT_SIMPLE_CHAIN* simple = chain.handle->rgpChain[0];
    if (simple->cElement == 0) return false;

    // The chain's own verdict decides; the policy adds the name and the TLS
    // rules. Wine's policy passes a chain cut short, so neither is enough
    // alone. An untrusted root is forgiven only when it is all that is wrong
    // and the root is one of the anchors.
    const DWORD errors = chain.handle->TrustStatus.dwErrorStatus;
    if (errors == CERT_TRUST_NO_ERROR) return SslPolicyError(chain.handle, host, isAddress, false) == 0;
    if (errors != CERT_TRUST_IS_UNTRUSTED_ROOT) return false;
    if (!IsAnchor(simple->rgpElement[simple->cElement - 1]->pCertContext, anchors)) return false;
    return SslPolicyError(chain.handle, host, isAddress, true) == 0;
}

HCERTSTORE OpenChainSupportStore(PCCERT_CONTEXT certificate, const std::vector<std::string>& anchors) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (store == nullptr) return nullptr;
    for (const std::string& der : anchors) {
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr);
    }
    // The intermediates the server sent travel in the certificate's own store.
    if (certificate != nullptr && certificate->hCertStore != nullptr) {
        PCCERT_CONTEXT sent = nullptr;
        while ((sent = CertEnumCertificatesInStore(certificate->hCertStore, sent)) != nullptr) {
            CertAddCertificateContextToStore(store, sent, CERT_STORE_ADD_USE_EXISTING, nullptr);
        }
    }
    return store;
}

OrdinaryTrust OrdinaryTrustFor(const WString& host) {
    OrdinaryTrust trust;
    if (!ExtraTrustAnchors().empty()) trust.securityFlags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    if (!AddressBytes(host).empty()) trust.securityFlags |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    return trust;
}

bool ServerTrustedOrdinarily(HINTERNET request, const WString& host) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof(certificate);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) || certificate == nullptr) {
        return false;
    }
    const bool trusted = ChainTrustedWithAnchors(certificate, host, ExtraTrustAnchors());
    CertFreeCertificateContext(certificate);
    return trusted;
}
