// The installer's signature: the system's Authenticode verdict on the file,
// then the signer and its chain against the profile.
// The chain parameters with their time-out for fetching revocation lists.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "runtime/installer_signature_win.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <algorithm>
#include <utility>
#include <cctype>
#include <cstdio>
#include <vector>

#include "common/crypto.h"
#include "common/masking.h"
#include "service/server_chain_win.h"

namespace {

std::string Hex(const std::string& bytes) {
    std::string text;
    char digits[3];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        text += digits;
    }
    return text;
}

std::string HresultText(LONG code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code));
    return text;
}

std::string Der(PCCERT_CONTEXT certificate) {
    return std::string(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
}

// The subject as "CN=..., O=..." in the order the certificate encodes it,
// with the usual short names: exact, whatever the platform's own formatting.
std::string SubjectText(PCCERT_CONTEXT certificate) {
    CERT_NAME_INFO* name = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME, certificate->pCertInfo->Subject.pbData,
                             certificate->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &name, &size) ||
        name == nullptr) {
        return {};
    }
    static const std::pair<const char*, const char*> kShort[] = {
        {szOID_COMMON_NAME, "CN"},         {szOID_ORGANIZATION_NAME, "O"},   {szOID_ORGANIZATIONAL_UNIT_NAME, "OU"},
        {szOID_LOCALITY_NAME, "L"},        {szOID_STATE_OR_PROVINCE_NAME, "S"}, {szOID_COUNTRY_NAME, "C"}};
    std::string text;
    for (DWORD r = 0; r < name->cRDN; ++r) {
        for (DWORD a = 0; a < name->rgRDN[r].cRDNAttr; ++a) {
            const CERT_RDN_ATTR& attribute = name->rgRDN[r].rgRDNAttr[a];
            std::string key = attribute.pszObjId;
            for (const auto& [oid, abbreviation] : kShort) {
                if (key == oid) key = abbreviation;
            }
            wchar_t value[512] = {};
            const DWORD length = CertRDNValueToStrW(attribute.dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attribute.Value),
                                                    value, 512);
            if (!text.empty()) text += ", ";
            text += key + "=" + WideToUtf8(WString(reinterpret_cast<const char16_t*>(value), length > 0 ? length - 1 : 0));
        }
    }
    LocalFree(name);
    return text;
}

// The leaf names code signing among its purposes itself: a certificate
// without the extension is good for anything, which is not good enough.
bool NamesCodeSigning(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) || size == 0)
        return false;
    std::vector<unsigned char> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (std::string(usage->rgpszUsageIdentifier[i]) == szOID_PKIX_KP_CODE_SIGNING) return true;
    }
    return false;
}

bool Listed(const std::vector<std::string>& wanted, const std::string& hash) {
    return std::any_of(wanted.begin(), wanted.end(), [&hash](std::string entry) {
        std::transform(entry.begin(), entry.end(), entry.begin(), [](unsigned char c) { return std::tolower(c); });
        return entry == hash;
    });
}

// Runs WinVerifyTrust on the file and keeps its state until destroyed.
class TrustVerdict {
public:
    TrustVerdict(const WString& path, HANDLE file) : path_(path) {
        file_.cbStruct = sizeof(file_);
        file_.pcwszFilePath = reinterpret_cast<const wchar_t*>(path_.c_str());
        file_.hFile = file;
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        // Nothing is fetched from the network to judge the file.
        data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    ~TrustVerdict() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustVerdict(const TrustVerdict&) = delete;
    TrustVerdict& operator=(const TrustVerdict&) = delete;

    LONG Result() const { return result_; }
    CRYPT_PROVIDER_DATA* Provider() const {
        return data_.hWVTStateData != nullptr ? WTHelperProvDataFromStateData(data_.hWVTStateData) : nullptr;
    }

private:
    WString path_;
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG result_ = TRUST_E_NOSIGNATURE;
};

// The signer's code-signing chain as of the time the provider judged it (the
// time stamp's, when the signature has one), built with the profile's extra
// anchors beside the system's roots and the certificates the signature
// carries, revocation asked of the network within a bound (offline or
// unknown passes; revoked does not). The chain, when it is sound; else null.
PCCERT_CHAIN_CONTEXT SoundChain(CRYPT_PROVIDER_DATA* provider, CRYPT_PROVIDER_SGNR* signer, std::string& why) {
    PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    const std::vector<std::string>& anchors = ExtraTrustAnchors();
    HCERTSTORE support = OpenChainSupportStore(leaf, anchors);
    if (support == nullptr) {
        why = "no certificate store";
        return nullptr;
    }
    for (DWORD i = 0; i < provider->chStores; ++i) {
        PCCERT_CONTEXT carried = nullptr;
        while ((carried = CertEnumCertificatesInStore(provider->pahStores[i], carried)) != nullptr) {
            CertAddCertificateContextToStore(support, carried, CERT_STORE_ADD_USE_EXISTING, nullptr);
        }
    }
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    parameters.dwUrlRetrievalTimeout = 10000;
    FILETIME when = signer->sftVerifyAsOf;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    const DWORD flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
    if (CertGetCertificateChain(nullptr, leaf, &when, support, &parameters, flags, nullptr, &chain) && chain != nullptr &&
        chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT last = simple->rgpElement[simple->cElement - 1]->pCertContext;
        // What an unreachable or absent revocation list leaves open is not a fault.
        const DWORD errors = chain->TrustStatus.dwErrorStatus &
                             ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
        // A root the system does not trust passes only as one of the anchors
        // (dev), and only when nothing else is wrong with the chain.
        const bool anchored = std::find(anchors.begin(), anchors.end(), Der(last)) != anchors.end();
        if (errors & CERT_TRUST_IS_REVOKED) {
            why = "a certificate of the signer's chain is revoked";
        } else if (errors != CERT_TRUST_NO_ERROR && !(errors == CERT_TRUST_IS_UNTRUSTED_ROOT && anchored)) {
            why = "the signer's chain fails (" + HresultText(static_cast<LONG>(errors)) + ")";
        }
    } else {
        why = "no chain for the signer";
    }
    CertCloseStore(support, 0);
    if (!why.empty() && chain != nullptr) CertFreeCertificateChain(std::exchange(chain, nullptr));
    return chain;
}

} // namespace

std::string CheckInstallerSignature(const WString& path, HANDLE file) {
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return "the file cannot be read";
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    TrustVerdict verdict(path, file);
    const LONG result = verdict.Result();
    // With dev anchors the system cannot know the root: the chain is judged
    // below. Every other failure (no signature, a digest that does not
    // match the file, a signature that does not verify) is final.
    const bool rootUnknown = result == CERT_E_UNTRUSTEDROOT || result == CERT_E_CHAINING;
    if (result != ERROR_SUCCESS && !(rootUnknown && !ExtraTrustAnchors().empty())) {
        return "no valid signature (" + HresultText(result) + ")";
    }
    CRYPT_PROVIDER_DATA* provider = verdict.Provider();
    CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
        signer->pasCertChain[0].pCert == nullptr) {
        return "no signer";
    }
    PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    const std::string subject = SubjectText(leaf);
    if (subject != UnmaskConstant(Config::kRuntimeInstallerSignerSubject)) {
        return "signed by \"" + subject + "\", not the runtime's signer";
    }
    if (!NamesCodeSigning(leaf)) return "the signer's certificate is not for code signing";
    std::string why;
    PCCERT_CHAIN_CONTEXT chain = SoundChain(provider, signer, why);
    if (chain == nullptr) return why;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const std::string rootHash = Hex(Sha256(Der(simple->rgpElement[simple->cElement - 1]->pCertContext)));
    const std::string issuerHash =
        simple->cElement > 1 ? Hex(Sha256(Der(simple->rgpElement[1]->pCertContext))) : std::string();
    CertFreeCertificateChain(chain);
    if (!Listed(UnmaskList(Config::kRuntimeInstallerSignerRoots, Config::kRuntimeInstallerSignerRootsCount), rootHash))
        return "the signer's root " + rootHash + " is not the runtime's";
    // The runtime's signer comes from the issuing authorities the profile
    // names, not from whatever else the same root certifies.
    if (!Listed(UnmaskList(Config::kRuntimeInstallerSignerIssuers, Config::kRuntimeInstallerSignerIssuersCount),
                issuerHash))
        return "the signer's issuer " + issuerHash + " is not the runtime's";
    return {};
}
