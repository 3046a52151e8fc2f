#include "common/app_constants.h"

#include <stdexcept>

double VersionNumber(WStringView versionString) {
    try {
        return std::stod(WideToUtf8(versionString));
    } catch (const std::exception&) {
        return 3.0;
    }
}

double CurrentVersion() {
    return VersionNumber(ApplicationConstants.versionString);
}
