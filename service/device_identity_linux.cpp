// Linux sources of the machine identity: the DMI product UUID when readable
// (root only on most systems), else the systemd machine-id; the description
// is the DMI vendor and product name.
#include "service/device_identity.h"

#include <fstream>
#include <sstream>

#include "common/masking.h"

namespace {

std::optional<std::string> ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (line.empty()) return std::nullopt;
    return line;
}

} // namespace

DeviceSources ReadDeviceSources() {
    DeviceSources sources;
    for (const std::string& path : UnmaskList(Config::kMachineIdFiles, Config::kMachineIdFilesCount)) {
        if (auto value = ReadFirstLine(path)) {
            sources.identifier = Utf8ToWide(*value);
            break;
        }
    }
    const std::vector<std::string> descriptionFiles = UnmaskList(Config::kDescriptionFiles, Config::kDescriptionFilesCount);
    if (descriptionFiles.size() > 0) {
        if (auto value = ReadFirstLine(descriptionFiles[0])) sources.description1 = Utf8ToWide(*value);
    }
    if (descriptionFiles.size() > 1) {
        if (auto value = ReadFirstLine(descriptionFiles[1])) sources.description2 = Utf8ToWide(*value);
    }
    return sources;
}
