#include "app/usage.h"

#include "common/app_constants.h"

std::optional<std::string> InformationRequest(const std::vector<WString>& args) {
    if (args.size() < 2) return std::nullopt;
    const std::string product = WideToUtf8(ApplicationConstants.productName);
    const std::string version = WideToUtf8(ApplicationConstants.versionString);
    const std::string program = WideToUtf8(ToLowerCopy(ApplicationConstants.productName));
    const std::string scheme = WideToUtf8(ApplicationConstants.schemeWord);
    if (args[1] == u"--version") return product + " " + version + "\n";
    if (args[1] != u"--help" && args[1] != u"-h") return std::nullopt;
    return "usage: " + program + " [LINK]\n"
           "The desktop content player of the " + product + " learning platform.\n"
           "  LINK         a " + scheme + ": link from the platform's site: shows its content\n"
           "               (without one, the platform's start page)\n"
           "  -h, --help   print this help and exit\n"
           "  --version    print the version and exit\n";
}
