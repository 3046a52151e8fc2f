// The installer's signature: the system's Authenticode verdict on the file,
// then the signer and its chain against the profile.
#include "runtime/installer_signature_win.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <algorithm>
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

WString CommonName(PCCERT_CONTEXT certificate) {
    wchar_t name[256] = {};
    const DWORD length = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0,
                                            const_cast<char*>(szOID_COMMON_NAME), name, 256);
    return length > 1 ? WString(reinterpret_cast<const char16_t*>(name), length - 1) : WString();
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
// carries. Its root, when the chain is sound; else null.
PCCERT_CONTEXT TrustedRoot(CRYPT_PROVIDER_DATA* provider, CRYPT_PROVIDER_SGNR* signer, std::string& why) {
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
    FILETIME when = signer->sftVerifyAsOf;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    PCCERT_CONTEXT root = nullptr;
    if (CertGetCertificateChain(nullptr, leaf, &when, support, &parameters, 0, nullptr, &chain) && chain != nullptr &&
        chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT last = simple->rgpElement[simple->cElement - 1]->pCertContext;
        const DWORD errors = chain->TrustStatus.dwErrorStatus;
        // A root the system does not trust passes only as one of the anchors
        // (dev), and only when nothing else is wrong with the chain.
        const bool anchored = std::find(anchors.begin(), anchors.end(), Der(last)) != anchors.end();
        if (errors == CERT_TRUST_NO_ERROR || (errors == CERT_TRUST_IS_UNTRUSTED_ROOT && anchored)) {
            root = CertDuplicateCertificateContext(last);
        } else {
            why = "the signer's chain fails (" + HresultText(static_cast<LONG>(errors)) + ")";
        }
    } else {
        why = "no chain for the signer";
    }
    if (chain != nullptr) CertFreeCertificateChain(chain);
    CertCloseStore(support, 0);
    return root;
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
    const WString name = CommonName(signer->pasCertChain[0].pCert);
    if (name != Utf8ToWide(UnmaskConstant(Config::kRuntimeInstallerSignerName))) {
        return "signed by \"" + WideToUtf8(name) + "\", not the runtime's signer";
    }
    std::string why;
    PCCERT_CONTEXT root = TrustedRoot(provider, signer, why);
    if (root == nullptr) return why;
    const std::string rootHash = Hex(Sha256(Der(root)));
    CertFreeCertificateContext(root);
    const std::vector<std::string> roots =
        UnmaskList(Config::kRuntimeInstallerSignerRoots, Config::kRuntimeInstallerSignerRootsCount);
    for (const std::string& wanted : roots) {
        std::string lower = wanted;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower == rootHash) return {};
    }
    return "the signer's root " + rootHash + " is not the runtime's";
}
