#include "tools/tool/commands.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <functional>
#include <map>

#include "common/app_constants.h"
#include "common/masking.h"
#include "diagnostics/diagnostic_code.h"
#include "links/envelope.h"
#include "links/player_content.h"
#include "links/scheme_link.h"
#include "service/device_identity.h"
#include "service/http_client.h"
#include "service/pins.h"
#include "service/version_check.h"

namespace {

using nlohmann::json;

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fwrite("\n", 1, 1, stdout);
    std::fflush(stdout);
}

void PrintJson(const json& value) {
    Print(value.dump(-1, ' ', false, json::error_handler_t::replace));
}

int Usage() {
    std::fputs(
        "usage: tovani-tool COMMAND ...\n"
        "  seal --pass TEXT --content TEXT --domain TEXT [--no-mac] [--upper-mac]\n"
        "  envelope TEXT [--no-mac] [--upper-mac]\n"
        "  inspect [--no-pins] LINK\n"
        "  fetch [--no-pins] [--method M] [--body TEXT] [--content-type T] [--no-pinning] URL\n"
        "  pins [--no-pins]\n"
        "  version [--no-pins] [BASEURL]\n"
        "  identity\n"
        "  diag encode REASON | diag decode CODE\n",
        stderr);
    return 2;
}

// Options of the form --name VALUE and --flag, and the remaining positionals.
struct Options {
    std::map<std::string, WString> values;
    std::map<std::string, bool> flags;
    std::vector<WString> positional;
    bool bad = false;

    Options(const std::vector<WString>& args, std::size_t from, const std::vector<std::string>& valued) {
        for (std::size_t i = from; i < args.size(); ++i) {
            const std::string arg = WideToUtf8(args[i]);
            if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
                const std::string name = arg.substr(2);
                if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
                    if (i + 1 >= args.size()) {
                        bad = true;
                        return;
                    }
                    values[name] = args[++i];
                } else {
                    flags[name] = true;
                }
            } else {
                positional.push_back(args[i]);
            }
        }
    }
    bool Flag(const std::string& name) const { return flags.count(name) != 0; }
};

// The pin store as the player's start-up leaves it.
bool InitialisePins(const Options& options) {
    if (options.Flag("no-pins")) return false;
    SetPins(DefaultPins());
    return LoadDynamicPins();
}

std::string Key() { return UnmaskConstant(Config::kEnvelopeKey); }

int Seal(const Options& o) {
    if (o.bad || !o.values.count("pass") || !o.values.count("content") || !o.values.count("domain")) return Usage();
    const bool withMac = !o.Flag("no-mac");
    const bool upper = o.Flag("upper-mac");
    const std::string key = Key();
    std::string link = WideToUtf8(ApplicationConstants.schemeWord) + ":";
    link += SealEnvelope(WideToUtf8(o.values.at("pass")), key, withMac, upper) + ":";
    link += SealEnvelope(WideToUtf8(o.values.at("content")), key, withMac, upper) + ":";
    link += SealEnvelope(WideToUtf8(o.values.at("domain")), key, withMac, upper);
    Print(link);
    return 0;
}

int Envelope(const Options& o) {
    if (o.bad || o.positional.size() != 1) return Usage();
    Print(SealEnvelope(WideToUtf8(o.positional[0]), Key(), !o.Flag("no-mac"), o.Flag("upper-mac")));
    return 0;
}

int Inspect(const Options& o) {
    if (o.bad || o.positional.size() != 1) return Usage();
    InitialisePins(o);
    std::string error;
    if (!ParseSchemeArgs(o.positional[0], error)) {
        PrintJson({{"ok", false}, {"error", error}});
        return 1;
    }
    PrintJson({{"ok", true},
               {"domain", WideToUtf8(PlayerContent.domain)},
               {"url", WideToUtf8(PlayerContent.url)},
               {"contentType", WideToUtf8(PlayerContent.contentType)},
               {"watermarkText", WideToUtf8(PlayerContent.watermarkText)},
               {"pageScript", WideToUtf8(PlayerContent.pageScript)}});
    return 0;
}

json ResponseJson(const HttpResponse& r) {
    return {{"statusCode", r.statusCode}, {"ok", r.ok}, {"error", r.error}, {"body", r.body}};
}

int Fetch(const Options& o) {
    if (o.bad || o.positional.size() != 1) return Usage();
    InitialisePins(o);
    const WString method = o.values.count("method") ? o.values.at("method") : WString(u"GET");
    const std::string body = o.values.count("body") ? WideToUtf8(o.values.at("body")) : std::string();
    const WString type = o.values.count("content-type") ? o.values.at("content-type") : WString();
    HttpResponse response;
    try {
        if (o.Flag("no-pinning")) {
            HttpClient client;
            client.pinningDisabled = true;
            response = client.Request(method, o.positional[0], body, type);
        } else {
            response = SharedClient().Request(method, o.positional[0], body, type);
        }
    } catch (const std::exception& e) {
        response.error = e.what();
    }
    PrintJson(ResponseJson(response));
    return response.ok ? 0 : 1;
}

int Pins(const Options& o) {
    if (o.bad || !o.positional.empty()) return Usage();
    const bool loaded = InitialisePins(o);
    json entries = json::array();
    for (const PinEntry& entry : GetPins()) entries.push_back({{"scope", WideToUtf8(entry.scope)}, {"pins", entry.pins}});
    PrintJson({{"loaded", loaded}, {"entries", entries}});
    return 0;
}

int Version(const Options& o) {
    if (o.bad || o.positional.size() > 1) return Usage();
    InitialisePins(o);
    const WString base = o.positional.empty() ? WString() : o.positional[0];
    const VersionCheckResult r = CheckVersion(CurrentVersion(), base);
    PrintJson({{"hasUpdate", r.hasUpdate}, {"isRequired", r.isRequired}, {"link", WideToUtf8(r.link)}});
    return 0;
}

int Identity() {
    PrintJson({{"identity", WideToUtf8(GetDeviceIdentity())}, {"description", WideToUtf8(GetDeviceDescription())}});
    return 0;
}

std::string IsoTime(long long ts) {
    const std::time_t t = static_cast<std::time_t>(ts);
    std::tm tm{};
#ifdef _WIN32
    if (gmtime_s(&tm, &t) != 0) return std::string();
#else
    if (gmtime_r(&t, &tm) == nullptr) return std::string();
#endif
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

int Diag(const Options& o) {
    if (o.bad || o.positional.size() != 2) return Usage();
    const std::string verb = WideToUtf8(o.positional[0]);
    const std::string argument = WideToUtf8(o.positional[1]);
    if (verb == "encode") {
        Print(ErrorDiagnosticCode(argument));
        return 0;
    }
    if (verb == "decode") {
        const DiagnosticRecord record = DecodeDiagnosticCode(argument);
        if (!record.valid) {
            PrintJson({{"error", "not a diagnostic code"}});
            return 1;
        }
        PrintJson({{"ts", record.ts}, {"time", IsoTime(record.ts)}, {"mk", record.mk}, {"reason", record.reason}});
        return 0;
    }
    return Usage();
}

} // namespace

int RunTool(const std::vector<WString>& args) {
    if (args.size() < 2) return Usage();
    const std::string command = WideToUtf8(args[1]);
    try {
        if (command == "seal") return Seal(Options(args, 2, {"pass", "content", "domain"}));
        if (command == "envelope") return Envelope(Options(args, 2, {}));
        if (command == "inspect") return Inspect(Options(args, 2, {}));
        if (command == "fetch") return Fetch(Options(args, 2, {"method", "body", "content-type"}));
        if (command == "pins") return Pins(Options(args, 2, {}));
        if (command == "version") return Version(Options(args, 2, {}));
        if (command == "identity") return Identity();
        if (command == "diag") return Diag(Options(args, 2, {}));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tovani-tool: %s\n", e.what());
        return 2;
    }
    return Usage();
}
