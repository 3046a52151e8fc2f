#include "tools/tool/commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
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

void Out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Print(const std::string& text) { Out(text + "\n"); }

void PrintJson(const json& value) {
    Print(value.dump(-1, ' ', false, json::error_handler_t::replace));
}

constexpr char kDiagUsage[] = "diag encode REASON | diag decode CODE";

std::string UsageLine(const std::string& usage) { return "usage: tovani-tool " + usage + "\n"; }

// Options of the form --name VALUE and --flag, and the remaining positionals;
// "--" ends the options. Anything else that starts with "-" is refused.
struct Options {
    std::map<std::string, WString> values;
    std::map<std::string, bool> flags;
    std::vector<WString> positional;
    bool help = false;
    std::string error; // why the command line is refused

    Options(const std::vector<WString>& args, std::size_t from, const std::vector<std::string>& valued,
            const std::vector<std::string>& known) {
        const auto has = [](const std::vector<std::string>& list, const std::string& name) {
            return std::find(list.begin(), list.end(), name) != list.end();
        };
        bool optionsEnded = false;
        for (std::size_t i = from; i < args.size(); ++i) {
            const std::string arg = WideToUtf8(args[i]);
            if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
                positional.push_back(args[i]);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "--help" || arg == "-h") {
                help = true;
            } else if (arg.rfind("--", 0) == 0 && has(valued, arg.substr(2))) {
                if (i + 1 >= args.size()) {
                    if (error.empty()) error = "option " + arg + " needs a value";
                } else {
                    values[arg.substr(2)] = args[++i];
                }
            } else if (arg.rfind("--", 0) == 0 && has(known, arg.substr(2))) {
                flags[arg.substr(2)] = true;
            } else if (error.empty()) {
                error = "unknown option " + arg;
            }
        }
    }
    bool Flag(const std::string& name) const { return flags.count(name) != 0; }
};

// One command: its usage line (the part after "tovani-tool"), its options,
// how many positionals it takes, and what it does.
struct Command {
    std::string name;
    std::string usage;
    std::vector<std::string> valued;
    std::vector<std::string> flags;
    std::vector<std::string> required;
    std::size_t minPositional = 0;
    std::size_t maxPositional = 0;
    std::function<int(const Options&)> run;
};

// A command line that cannot run: named on standard error, status 2.
int Refuse(const std::string& command, const std::string& why, const std::string& usage) {
    std::fprintf(stderr, "tovani-tool%s%s: %s\n%s", command.empty() ? "" : " ", command.c_str(), why.c_str(),
                 usage.c_str());
    return 2;
}

// A command that ran but could not do its work: named on standard error, status 1.
int Failed(const std::string& command, const std::string& why) {
    std::fprintf(stderr, "tovani-tool %s: %s\n", command.c_str(), why.c_str());
    return 1;
}

// The pin store as the player's start-up leaves it.
bool InitialisePins(const Options& options) {
    if (options.Flag("no-pins")) return false;
    SetPins(DefaultPins());
    return LoadDynamicPins();
}

std::string Key() { return UnmaskConstant(Config::kEnvelopeKey); }

int Seal(const Options& o) {
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
    Print(SealEnvelope(WideToUtf8(o.positional[0]), Key(), !o.Flag("no-mac"), o.Flag("upper-mac")));
    return 0;
}

int Inspect(const Options& o) {
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
    const bool loaded = InitialisePins(o);
    json entries = json::array();
    for (const PinEntry& entry : GetPins()) entries.push_back({{"scope", WideToUtf8(entry.scope)}, {"pins", entry.pins}});
    PrintJson({{"loaded", loaded}, {"entries", entries}});
    if (!loaded && !o.Flag("no-pins")) return Failed("pins", "the service's pin document could not be loaded");
    return 0;
}

int Version(const Options& o) {
    InitialisePins(o);
    const WString base = o.positional.empty() ? WString() : o.positional[0];
    const VersionCheckResult r = CheckVersion(CurrentVersion(), base);
    PrintJson({{"hasUpdate", r.hasUpdate}, {"isRequired", r.isRequired}, {"link", WideToUtf8(r.link)}});
    if (!r.answered) return Failed("version", "the service's version document could not be fetched or read");
    return 0;
}

int Identity(const Options&) {
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
    return Refuse("diag", "unknown action " + verb + " (encode or decode)", UsageLine(kDiagUsage));
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"seal", "seal --pass TEXT --content TEXT --domain TEXT [--no-mac] [--upper-mac]",
         {"pass", "content", "domain"}, {"no-mac", "upper-mac"}, {"pass", "content", "domain"}, 0, 0, Seal},
        {"envelope", "envelope [--no-mac] [--upper-mac] TEXT", {}, {"no-mac", "upper-mac"}, {}, 1, 1, Envelope},
        {"inspect", "inspect [--no-pins] LINK", {}, {"no-pins"}, {}, 1, 1, Inspect},
        {"fetch", "fetch [--no-pins] [--method M] [--body TEXT] [--content-type T] [--no-pinning] URL",
         {"method", "body", "content-type"}, {"no-pins", "no-pinning"}, {}, 1, 1, Fetch},
        {"pins", "pins [--no-pins]", {}, {"no-pins"}, {}, 0, 0, Pins},
        {"version", "version [--no-pins] [BASEURL]", {}, {"no-pins"}, {}, 0, 1, Version},
        {"identity", "identity", {}, {}, {}, 0, 0, Identity},
        {"diag", kDiagUsage, {}, {}, {}, 2, 2, Diag},
    };
    return commands;
}

// The whole usage, from the table: every command's line.
std::string ToolUsage() {
    std::string usage = "usage: tovani-tool COMMAND ...\n";
    for (const Command& command : Commands()) usage += "  " + command.usage + "\n";
    return usage + "  help [COMMAND]\n"
                   "Every command takes --help. Exit status: 0 done, 1 failed (a rejected link, a\n"
                   "service that could not be reached or read), 2 a wrong command line.\n";
}

const char kSeeHelp[] = "run tovani-tool --help for the commands\n";

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands()) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

int RunCommand(const Command& command, const std::vector<WString>& args) {
    const Options options(args, 2, command.valued, command.flags);
    const std::string usage = UsageLine(command.usage);
    if (options.help) {
        Out(usage);
        return 0;
    }
    if (!options.error.empty()) return Refuse(command.name, options.error, usage);
    std::string missing;
    for (const std::string& name : command.required) {
        if (!options.values.count(name)) missing += (missing.empty() ? "--" : ", --") + name;
    }
    if (!missing.empty()) return Refuse(command.name, "missing " + missing, usage);
    const std::size_t count = options.positional.size();
    if (count < command.minPositional) return Refuse(command.name, "missing argument", usage);
    if (count > command.maxPositional) {
        return Refuse(command.name, "unexpected argument " + WideToUtf8(options.positional[command.maxPositional]), usage);
    }
    return command.run(options);
}

} // namespace

int RunTool(const std::vector<WString>& args) {
    if (args.size() < 2) return Refuse("", "no command", ToolUsage());
    const std::string name = WideToUtf8(args[1]);
    if (name == "--help" || name == "-h" || name == "help") {
        if (name == "help" && args.size() > 2) {
            const Command* command = FindCommand(WideToUtf8(args[2]));
            if (command == nullptr) return Refuse("help", "unknown command " + WideToUtf8(args[2]), kSeeHelp);
            Out(UsageLine(command->usage));
            return 0;
        }
        Out(ToolUsage());
        return 0;
    }
    if (name == "--version") {
        Out("tovani-tool " + WideToUtf8(ApplicationConstants.versionString) + "\n");
        return 0;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr) {
        return Refuse("", (name.rfind("-", 0) == 0 ? "unknown option " : "unknown command ") + name, kSeeHelp);
    }
    try {
        return RunCommand(*command, args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tovani-tool: %s\n", e.what());
        return 1;
    }
}
