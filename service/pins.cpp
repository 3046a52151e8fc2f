#include "service/pins.h"

#include <nlohmann/json.hpp>

#include <shared_mutex>

#include "common/base64.h"
#include "common/bounded_json.h"
#include "common/crypto.h"
#include "common/masking.h"
#include "diagnostics/diagnostic_dialog.h"
#include "service/http_client.h"

namespace {

std::shared_mutex gStoreLock;
std::vector<PinEntry> gStore;

} // namespace

std::optional<PinEntry> FindPinEntry(const WString& host) {
    std::shared_lock<std::shared_mutex> guard(gStoreLock);
    return FindPinEntryIn(gStore, host);
}

std::optional<PinEntry> FindPinEntryIn(const std::vector<PinEntry>& entries, const WString& host) {
    const WString lowerHost = ToLowerCopy(host);
    const PinEntry* best = nullptr;
    std::size_t bestLength = 0;
    for (const PinEntry& entry : entries) {
        const WString scope = ToLowerCopy(entry.scope);
        if (scope == lowerHost) return entry;
        const WString dotted = u"." + scope;
        if (EndsWith(lowerHost, dotted) && (best == nullptr || scope.size() > bestLength)) {
            best = &entry;
            bestLength = scope.size();
        }
    }
    if (best == nullptr) return std::nullopt;
    return *best;
}

std::vector<PinEntry> DefaultPins() {
    PinEntry entry;
    entry.scope = Utf8ToWide(UnmaskConstant(Config::kDefaultPinScope));
    entry.pins = UnmaskList(Config::kDefaultPins, Config::kDefaultPinsCount);
    return {entry};
}

void SetPins(std::vector<PinEntry> pins) {
    std::unique_lock<std::shared_mutex> guard(gStoreLock);
    gStore = std::move(pins);
}

std::vector<PinEntry> GetPins() {
    std::shared_lock<std::shared_mutex> guard(gStoreLock);
    return gStore;
}

std::optional<std::vector<PinEntry>> ParsePinDocument(const std::string& body) {
    try {
        const nlohmann::json document = ParseBoundedJson(body);
        if (document.is_discarded() || !document.is_array()) return std::nullopt;

        std::vector<PinEntry> merged = DefaultPins();
        for (const auto& element : document) {
            if (!element.is_object() || !element.contains("scope") || !element.contains("pins")) continue;
            PinEntry entry;
            // A scope of another type fails the whole load (type error caught below).
            entry.scope = Utf8ToWide(element["scope"].get<std::string>());
            const auto& pins = element["pins"];
            if (pins.is_array()) {
                for (const auto& pin : pins) {
                    if (!pin.is_string()) continue;
                    std::string text = pin.get<std::string>();
                    if (text.size() > 7 && text.compare(0, 7, "sha256/") == 0) text.erase(0, 7);
                    entry.pins.push_back(text);
                }
            }
            if (!entry.pins.empty()) merged.push_back(std::move(entry));
        }
        return merged;
    } catch (...) {
        return std::nullopt;
    }
}

bool LoadDynamicPins() {
    try {
        // The secret belongs to this one request: a client of its own carries
        // it, so no later request of the shared client can take it anywhere.
        HttpClient client;
        client.SetHeader(u"X-Secret", Utf8ToWide(UnmaskConstant(Config::kPinsSecret)));
        const HttpResponse response = client.Get(Utf8ToWide(UnmaskConstant(Config::kPinsUrl)));
        if (!response.ok) return false;
        std::optional<std::vector<PinEntry>> merged = ParsePinDocument(response.body);
        if (!merged) return false;
        SetPins(std::move(*merged));
        return true;
    } catch (...) {
        return false;
    }
}

std::string SpkiPin(const std::string& spkiDer) {
    return Base64Encode(Sha256(spkiDer));
}

bool ChainMatchesPins(const ServerChain& chain, const PinEntry& entry) {
    for (const std::string& spki : chain.spkiDer) {
        if (spki.empty()) continue;
        const std::string pin = SpkiPin(spki);
        for (const std::string& accepted : entry.pins) {
            if (pin == accepted) return true;
        }
    }
    return false;
}

bool IsPrimaryDomainHost(const WString& host) {
    const WString primary = ToLowerCopy(Utf8ToWide(UnmaskConstant(Config::kPrimaryDomain)));
    return !primary.empty() && EndsWith(ToLowerCopy(host), primary);
}

bool ValidateServerPins(const ServerChain& chain, const WString& host) {
    const std::optional<PinEntry> entry = FindPinEntry(host);
    if (!entry || entry->pins.empty()) return true;
    return ValidateServerPinsAgainst(chain, host, *entry);
}

bool ValidateServerPinsAgainst(const ServerChain& chain, const WString& host, const PinEntry& entry) {
    if (entry.pins.empty()) return true;
    if (!chain.haveCertificate) return false;
    if (ChainMatchesPins(chain, entry)) return true;
    if (IsPrimaryDomainHost(host)) {
        DiagnosticDialog(Utf8ToWide("Network Connection Intercepted - اتصال غير آمن"),
                         u"A security program is blocking the secure connection.\nPlease disable 'HTTPS Scanning' or "
                         u"'Web Shield' in your antivirus settings and try again.",
                         Utf8ToWide("برنامج حماية يمنع الاتصال الآمن.\nيرجى تعطيل خاصية 'فحص HTTPS' أو 'حماية الويب' في "
                                    "إعدادات مكافح الفيروسات وحاول مرة أخرى."),
                         "SSL_" + WideToUtf8(host));
    }
    return false;
}
